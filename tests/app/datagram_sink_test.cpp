#include "app/datagram_sink.h"

#include "app/event_time_text.h"
#include "support/udp_receiver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace tallowick::app {
namespace {

using testing::udp_receiver;

TEST(EventTimeText, WritesUtcWithSevenDigitsOfFraction) {
    struct row {
        std::int64_t filetime;
        const char* text;
    };
    const row rows[] = {
        {0, "1601-01-01T00:00:00.0000000Z"},
        {-1, "1601-01-01T00:00:00.0000000Z"}, // no record is older: never a negative year
        {116444736000000000, "1970-01-01T00:00:00.0000000Z"},
        {133537247999999999, "2024-02-29T23:59:59.9999999Z"},
        {134411716290449706, "2026-12-08T02:47:09.0449706Z"},
        {std::numeric_limits<std::int64_t>::max(), "30828-09-14T02:48:05.4775807Z"},
    };
    for (const row& r : rows)
        EXPECT_EQ(event_time_text(r.filetime), r.text) << r.filetime;
}

rapidjson::Document with_text(std::size_t length) {
    rapidjson::Document message(rapidjson::kObjectType);
    const std::string text(length, 'x');
    message.AddMember("Operation", "PROCESS ENDED", message.GetAllocator());
    message.AddMember(
        "Command_Line",
        rapidjson::Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), message.GetAllocator()),
        message.GetAllocator());
    return message;
}

// Every way a message leaves the sink is booked in the ledger, by kind.
TEST(DatagramSink, BooksWhatBecameOfEachMessage) {
    udp_receiver receiver;
    run_ledger ledger;
    envelope seal("h", "ccfd2485-de52-4122-a261-d6b3a8c23fa0");
    datagram_sink plain(ledger, {1024, nullptr});
    datagram_sink sealed(ledger, {1024, &seal});

    rapidjson::Document small = with_text(10);
    plain.send(small, monitor::message_kind::process_ended, 0);
    EXPECT_EQ(receiver.receive(), R"({"Operation":"PROCESS ENDED","Command_Line":"xxxxxxxxxx"})");

    rapidjson::Document long_text = with_text(5000);
    sealed.send(long_text, monitor::message_kind::process_started, 116444736000000000);
    const std::string shortened = receiver.receive().value_or("");
    EXPECT_LE(shortened.size(), 1024u);
    EXPECT_TRUE(shortened.ends_with(
        R"(,"Event_Time":"1970-01-01T00:00:00.0000000Z","Host":"h","Run_Id":"ccfd2485-de52-4122-a261-d6b3a8c23fa0","Sequence":1,"Shortened":true})"))
        << shortened;

    // Numbers cannot be cut: too large whatever is done. Its number is taken all the same.
    rapidjson::Document numbers(rapidjson::kObjectType);
    for (int i = 0; i < 200; ++i) {
        std::string key(1, 'N'); // not "N" + ...: GCC 12 warns of a memcpy that cannot happen
        key += std::to_string(i);
        numbers.AddMember(rapidjson::Value(key.c_str(), numbers.GetAllocator()),
                          rapidjson::Value(std::numeric_limits<std::uint64_t>::max()),
                          numbers.GetAllocator());
    }
    sealed.send(numbers, monitor::message_kind::file_system, 0);
    rapidjson::Document agent = with_text(3);
    sealed.send_agent(agent, 0);
    EXPECT_NE(receiver.receive().value_or("").find(R"("Sequence":3})"), std::string::npos); // 2 is the gap
    EXPECT_EQ(receiver.receive_pending(), std::vector<std::string>{});

    const ledger_figures figures = ledger.figures();
    EXPECT_EQ(figures.sent_of(datagram_kind::process_ended), 1u);
    EXPECT_EQ(figures.sent_of(datagram_kind::process_started), 1u);
    EXPECT_EQ(figures.sent_of(datagram_kind::file_system), 0u);
    EXPECT_EQ(figures.sent_of(datagram_kind::agent), 1u);
    EXPECT_EQ(figures.shortened, 1u);
    EXPECT_EQ(figures.send_failures, 1u);
}

} // namespace
} // namespace tallowick::app
