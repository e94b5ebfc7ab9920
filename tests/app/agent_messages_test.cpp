#include "app/agent_messages.h"

#include "app/envelope.h"
#include "collector/message_check.h"

#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>
#include <vector>

namespace tallowick::app {
namespace {

std::string sealed_text(rapidjson::Document message, envelope& seal) {
    seal.seal(message, 134411716290449706);
    rapidjson::StringBuffer text;
    rapidjson::Writer<rapidjson::StringBuffer> writer(text);
    message.Accept(writer);
    return {text.GetString(), text.GetSize()};
}

// Each of the agent's messages is what its schema says, as the reference collector checks it.
TEST(AgentMessages, EachIsAValidMessageOfItsKind) {
    envelope seal("DESKTOP-SIM", "ccfd2485-de52-4122-a261-d6b3a8c23fa0");
    const std::vector<std::string> paths = {"\\Users\\alice", "\\Data"};
    const std::vector<std::string> none;
    ledger_figures figures;
    figures.sent = {5, 1, 2, 3};
    figures.send_failures = 1;
    figures.sessions = {{"Velmar_Trace_FileKernel", {7, 1, 2}}, {"Velmar_Trace_WindowsKernel", {3, 0, 0}}};
    const loss_news news{"Velmar_Trace_FileKernel", {4, 0, 1}, {7, 1, 2}};

    struct row {
        std::string text;
        std::string expected_part;
    };
    const row rows[] = {
        {sealed_text(started_message({"0.1.0", &paths, &none, 8192}), seal),
         R"({"Event_Type":"AGENT","Operation":"STARTED","Version":"0.1.0","Monitored_Paths":"\\Users\\alice|\\Data","Excluded_Processes":"","Max_Datagram":8192,)"},
        {sealed_text(status_message(figures), seal),
         R"("Datagrams_Sent":11,"File_System_Sent":5,"Process_Start_Sent":1,"Process_End_Sent":2,"Agent_Sent":3,"Messages_Shortened":0,"Send_Failures":1,"Console_Lines_Dropped":0,"Events_Lost":10,"Buffers_Lost":1,"Loss_Records":2,)"},
        {sealed_text(events_lost_message(news), seal),
         R"("Session":"Velmar_Trace_FileKernel","Events_Lost":4,"Events_Lost_Total":7,"Buffers_Lost":0,"Buffers_Lost_Total":1,"Loss_Records":1,"Loss_Records_Total":2,)"},
        {sealed_text(
             session_restored_message(
                 {"Velmar_Trace_FileKernel", "Microsoft-Windows-Kernel-File", "is no longer enabled",
                  "enabled again", std::chrono::system_clock::time_point(std::chrono::seconds(1796698029)),
                  std::chrono::system_clock::time_point(std::chrono::milliseconds(1796698029500)), 2}),
             seal),
         R"("Session":"Velmar_Trace_FileKernel","Provider":"Microsoft-Windows-Kernel-File","Found":"is no longer enabled","Done":"enabled again","Noticed_Time":"2026-12-08T02:47:09.0000000Z","Restored_Time":"2026-12-08T02:47:09.5000000Z","Tries":2,)"},
        {sealed_text(stopped_message(figures), seal),
         R"({"Event_Type":"AGENT","Operation":"STOPPED","Datagrams_Sent":11,)"},
    };
    std::uint64_t sequence = 0;
    for (const row& r : rows) {
        const collector::check_result checked = collector::check_message(r.text);
        EXPECT_TRUE(checked.ok()) << checked.problem << ": " << r.text;
        EXPECT_NE(r.text.find(r.expected_part), std::string::npos) << r.text;
        ASSERT_TRUE(checked.envelope);
        EXPECT_EQ(checked.envelope->sequence, ++sequence);
    }
}

} // namespace
} // namespace tallowick::app
