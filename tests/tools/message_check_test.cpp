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

const std::string sealed =
    R"("Event_Time":"2026-12-08T02:47:09.0449706Z","Host":"DESKTOP-SIM","Run_Id":"ccfd2485-de52-4122-a261-d6b3a8c23fa0","Sequence":)";
const std::string ended =
    R"({"Operation":"PROCESS ENDED","Process_Name":"cmd.exe","Process_ID":77,"Event_Type":"PROCESS",)";
const std::string figures =
    R"("Datagrams_Sent":5,"File_System_Sent":1,"Process_Start_Sent":1,"Process_End_Sent":1,"Agent_Sent":2,"Messages_Shortened":0,"Send_Failures":1,"Console_Lines_Dropped":0,"Events_Lost":0,"Buffers_Lost":0,"Loss_Records":0,)";

TEST(MessageCheck, AcceptsEnvelopesOnEveryKindAndTheAgentsOwnMessages) {
    const std::string valid[] = {
        ended + sealed + "3}",
        ended + sealed + "18446744073709551615,\"Shortened\":true}",
        R"({"id":26,"proc":1,"Operation":"DELETE","Filename":"C:\\a.txt","Process_Name":"x","Process_Owner":"y","Event_Type":"FILESYSTEM",)" +
            sealed + "4}",
        R"({"Event_Type":"AGENT","Operation":"STARTED","Version":"0.1.0","Monitored_Paths":"\\Users|\\Data","Excluded_Processes":"","Max_Datagram":8192,)" +
            sealed + "1}",
        R"({"Event_Type":"AGENT","Operation":"STATUS",)" + figures + sealed + "9}",
        R"({"Event_Type":"AGENT","Operation":"EVENTS LOST","Session":"Velmar_Trace_FileKernel","Events_Lost":3,"Events_Lost_Total":7,"Buffers_Lost":0,"Buffers_Lost_Total":0,"Loss_Records":1,"Loss_Records_Total":1,)" +
            sealed + "10}",
        R"({"Event_Type":"AGENT","Operation":"SESSION RESTORED","Session":"Velmar_Trace_FileKernel","Provider":"","Found":"was stopped from outside","Done":"started again","Noticed_Time":"2026-12-08T02:47:09.0000000Z","Restored_Time":"2026-12-08T02:47:09.5000000Z","Tries":1,)" +
            sealed + "11}",
        R"({"Event_Type":"AGENT","Operation":"STOPPED",)" + figures + sealed + "12}",
    };
    for (const std::string& datagram : valid) {
        const check_result result = check_message(datagram);
        EXPECT_TRUE(result.ok()) << datagram << "\n" << result.problem;
        ASSERT_TRUE(result.envelope) << datagram;
        EXPECT_EQ(result.envelope->run_id, "ccfd2485-de52-4122-a261-d6b3a8c23fa0");
    }
    EXPECT_EQ(check_message(valid[1]).envelope->sequence, 18446744073709551615u);
    EXPECT_TRUE(check_message(valid[1]).envelope->shortened);
    const check_result stopped = check_message(valid[7]);
    ASSERT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.stopped->datagrams_sent, 5u);
    EXPECT_EQ(stopped.stopped->send_failures, 1u);
}

TEST(MessageCheck, RejectsEnvelopesThatAreIncompleteOutOfOrderOrMalformed) {
    const std::string invalid[] = {
        ended + R"("Event_Time":"2026-12-08T02:47:09.0449706Z","Host":"h","Sequence":3})", // no Run_Id
        ended +
            R"("Host":"DESKTOP-SIM","Event_Time":"2026-12-08T02:47:09.0449706Z","Run_Id":"ccfd2485-de52-4122-a261-d6b3a8c23fa0","Sequence":3})",
        ended +
            R"("Event_Time":"2026-12-08 02:47:09Z","Host":"h","Run_Id":"ccfd2485-de52-4122-a261-d6b3a8c23fa0","Sequence":3})",
        ended +
            R"("Event_Time":"2026-12-08T02:47:09.0449706Z","Host":"h","Run_Id":"{CCFD2485-DE52-4122-A261-D6B3A8C23FA0}","Sequence":3})",
        ended + sealed + "0}", // the sequence starts at 1
        ended + sealed + "-2}",
        ended + sealed + "3,\"Shortened\":false}",
        R"({"Operation":"PROCESS ENDED","Process_Name":"cmd.exe","Process_ID":77,"Event_Type":"PROCESS","Shortened":true})",
        R"({"Operation":"PROCESS ENDED","Process_Name":"cmd.exe","Process_ID":77,"Shortened":true,"Event_Type":"PROCESS",)" +
            sealed + "3}",
        R"({"Event_Type":"AGENT","Operation":"STOPPED",)" + figures +
            R"("Host":"h"})", // the agent's messages are always sealed
        R"({"Operation":"STOPPED","Event_Type":"AGENT",)" + figures + sealed + "12}",
        R"({"Event_Type":"AGENT","Operation":"REBOOTED",)" + sealed + "12}",
    };
    for (const std::string& datagram : invalid)
        EXPECT_FALSE(check_message(datagram).ok()) << datagram;
}

} // namespace
} // namespace tallowick::collector
