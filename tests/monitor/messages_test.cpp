#include "monitor/messages.h"
#include "recording_sink.h"

#include <gtest/gtest.h>

namespace tallowick::monitor {
namespace {

using testing::json_of;

std::size_t member_count(const std::string& json) {
    rapidjson::Document document;
    document.Parse(json.c_str(), json.size());
    return document.IsObject() ? document.MemberCount() : 0;
}

TEST(Messages, HoldTheirMembersInWireOrder) {
    struct wire_case {
        rapidjson::Document message;
        std::string expected;
        std::size_t members;
    };
    const file_system_details opened{"READ + WRITE", "C:\\Users\\a\\r\xc3\xa9sum\xc3\xa9.docx", "FILE",
                                     "C:\\Program Files\\Office\\WINWORD.EXE", "alice"};
    const file_system_details deleted{"DELETE", "C:\\tmp\\a.txt", std::nullopt, "ACCESS_DENIED", "UNKNOWN"};
    wire_case cases[] = {
        {file_system_message(12, 4294967295u, opened),
         R"({"id":12,"proc":4294967295,"Operation":"READ + WRITE","Filename":"C:\\Users\\a\\r)"
         "\xc3\xa9sum\xc3\xa9"
         R"(.docx","Path_Type":"FILE","Process_Name":"C:\\Program Files\\Office\\WINWORD.EXE","Process_Owner":"alice","Event_Type":"FILESYSTEM"})",
         8},
        {file_system_message(26, 8, deleted),
         R"({"id":26,"proc":8,"Operation":"DELETE","Filename":"C:\\tmp\\a.txt","Process_Name":"ACCESS_DENIED","Process_Owner":"UNKNOWN","Event_Type":"FILESYSTEM"})",
         7},
        {process_started_message({"access_denied", "cmd.exe", 4294967295u, 0,
                                  "cmd.exe /c \"echo\ta/b\x01\"\n", "UNKNOWN", "S-1-5-21-1-2-3-1001"}),
         R"({"Parent_Process_Name":"access_denied","Operation":"PROCESS STARTED","Process_Name":"cmd.exe","Process_ID":4294967295,"Parent_Process_ID":0,"Command_Line":"cmd.exe /c \"echo\ta/b\u0001\"\n","Event_Type":"PROCESS","User":"UNKNOWN","User_SID":"S-1-5-21-1-2-3-1001"})",
         9},
        {process_ended_message("notepad.exe", 4242),
         R"({"Operation":"PROCESS ENDED","Process_Name":"notepad.exe","Process_ID":4242,"Event_Type":"PROCESS"})",
         4},
    };
    for (const wire_case& test : cases) {
        const std::string text = json_of(test.message);
        EXPECT_EQ(text, test.expected);
        EXPECT_EQ(member_count(text), test.members);
    }
}

TEST(Messages, FileSystemMessageCanBeStartedBeforeItsDetailsAreKnown) {
    rapidjson::Document message = begin_file_system_message(30, 77);
    EXPECT_EQ(message.MemberCount(), 2u);
    {
        // The details are copied: the message outlives the strings it was given.
        std::string filename = "C:\\new";
        complete_file_system_message(message, {"CREATED", filename, std::string("DIR"), "C:\\a.exe", "bob"});
        filename.assign(40, '#');
    }
    EXPECT_EQ(
        json_of(message),
        R"({"id":30,"proc":77,"Operation":"CREATED","Filename":"C:\\new","Path_Type":"DIR","Process_Name":"C:\\a.exe","Process_Owner":"bob","Event_Type":"FILESYSTEM"})");
}

} // namespace
} // namespace tallowick::monitor
