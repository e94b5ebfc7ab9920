#include "collector/message_check.h"

#include <gtest/gtest.h>

#include <string>

namespace tallowick::collector {
namespace {

TEST(MessageCheck, AcceptsTheThreeKinds) {
    const char* valid[] = {
        R"({"id":12,"proc":4242,"Operation":"READ + WRITE","Filename":"C:\\Users\\a.docx","Path_Type":"FILE","Process_Name":"C:\\Windows\\notepad.exe","Process_Owner":"alice","Event_Type":"FILESYSTEM"})",
        R"({"id":26,"proc":4294967295,"Operation":"DELETE","Filename":"C:\\a.txt","Process_Name":"ACCESS_DENIED","Process_Owner":"UNKNOWN","Event_Type":"FILESYSTEM"})",
        R"({"id":30,"proc":1,"Operation":"CREATED","Filename":"C:\\d","Path_Type":"DIR","Process_Name":"x","Process_Owner":"é","Event_Type":"FILESYSTEM"})",
        R"({"Parent_Process_Name":"access_denied","Operation":"PROCESS STARTED","Process_Name":"cmd.exe","Process_ID":77,"Parent_Process_ID":4,"Command_Line":"cmd /c \"x\"","Event_Type":"PROCESS","User":"UNKNOWN","User_SID":"S-1-5-18"})",
        R"({"Operation":"PROCESS ENDED","Process_Name":"cmd.exe","Process_ID":77,"Event_Type":"PROCESS"})",
    };
    for (const char* datagram : valid) {
        const check_result result = check_message(datagram);
        EXPECT_TRUE(result.ok()) << datagram << "\n" << result.problem;
    }
    EXPECT_EQ(check_message(valid[3]).kind.operation, "PROCESS STARTED");
    EXPECT_EQ(check_message(valid[0]).kind.event_type, "FILESYSTEM");
}

TEST(MessageCheck, RejectsWhatACollectorCouldNotTrust) {
    constexpr std::size_t deep = 100'000; // far beyond what a recursive reader's stack holds
    const std::string invalid[] = {
        "",
        "not json",
        "[1,2]",
        "{\"Operation\":\"PROCESS "
        "ENDED\",\"Process_Name\":\"\xC3\",\"Process_ID\":1,\"Event_Type\":\"PROCESS\"}",
        R"({"Operation": "PROCESS ENDED","Process_Name":"a","Process_ID":1,"Event_Type":"PROCESS"})",
        R"({"Process_Name":"a","Operation":"PROCESS ENDED","Process_ID":1,"Event_Type":"PROCESS"})",
        R"({"Operation":"PROCESS ENDED","Process_Name":"a","Process_ID":-1,"Event_Type":"PROCESS"})",
        R"({"Operation":"PROCESS ENDED","Process_Name":"a","Process_ID":"1","Event_Type":"PROCESS"})",
        R"({"Operation":"PROCESS ENDED","Process_Name":"a","Process_ID":1,"Event_Type":"PROCESS","x":1})",
        R"({"id":26,"proc":1,"Operation":"DELETE","Filename":"a","Path_Type":"FILE","Process_Name":"x","Process_Owner":"y","Event_Type":"FILESYSTEM"})",
        R"({"id":12,"proc":1,"Operation":"RENAME","Filename":"a","Path_Type":"FILE","Process_Name":"x","Process_Owner":"y","Event_Type":"FILESYSTEM"})",
        R"({"id":12,"proc":1,"Operation":"READ","Filename":"a","Path_Type":"DIR","Process_Name":"x","Process_Owner":"y","Event_Type":"FILESYSTEM"})",
        R"({"id":13,"proc":1,"Operation":"READ","Filename":"a","Path_Type":"FILE","Process_Name":"x","Process_Owner":"y","Event_Type":"FILESYSTEM"})",
        R"({"Operation":"PROCESS PAUSED","Process_Name":"a","Process_ID":1,"Event_Type":"PROCESS"})",
        R"({"Operation":"PROCESS ENDED","Process_Name":"a","Process_ID":1,"Event_Type":"PROCESS"} )",
        R"({"Operation":"PROCESS ENDED","Process_Name":["a"],"Process_ID":1,"Event_Type":"PROCESS"})",
        std::string(deep, '[') + std::string(deep, ']'),
        R"({"Operation":"PROCESS ENDED","Process_Name":)" + std::string(deep, '[') + std::string(deep, ']') +
            R"(,"Process_ID":1,"Event_Type":"PROCESS"})",
    };
    for (const std::string& datagram : invalid)
        EXPECT_FALSE(check_message(datagram).ok()) << datagram.substr(0, 200);
}

} // namespace
} // namespace tallowick::collector
