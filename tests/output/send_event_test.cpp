#include "output/datagram_fit.h"
#include "output/send_event.h"
#include "support/udp_receiver.h"

#include <gtest/gtest.h>
#include <rapidjson/error/en.h>

#include <string>
#include <thread>

namespace tallowick::output {
namespace {

using testing::udp_receiver;

rapidjson::Document one_string(const char* key, std::string value) {
    rapidjson::Document message(rapidjson::kObjectType);
    message.AddMember(rapidjson::StringRef(key),
                      rapidjson::Value(value.c_str(), static_cast<rapidjson::SizeType>(value.size()),
                                       message.GetAllocator()),
                      message.GetAllocator());
    return message;
}

TEST(SendEvent, PutsTheCompactJsonOnTheWireWithTheDefaultWritersEscapes) {
    struct wire_case {
        std::string value;
        std::string expected;
    };
    const wire_case cases[] = {
        {"b", R"({"a":"b"})"},
        {"x\ty\nz\"q", R"({"a":"x\ty\nz\"q"})"},
        {std::string("\x01\x1f\b\f\r", 5), R"({"a":"\u0001\u001F\b\f\r"})"},
        {"C:\\Users\\a/b", R"({"a":"C:\\Users\\a/b"})"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
         "{\"a\":\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"}"},
        {std::string("nul\0in", 6), R"({"a":"nul\u0000in"})"},
    };
    udp_receiver receiver;
    for (const wire_case& test : cases) {
        ::testing::internal::CaptureStdout();
        send_event(one_string("a", test.value));
        EXPECT_EQ(receiver.receive(), test.expected);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    }
    EXPECT_EQ(receiver.receive_pending(), std::vector<std::string>{});
}

TEST(SendEvent, WritesNumbersWithTheirSignedness) {
    rapidjson::Document message(rapidjson::kObjectType);
    message.AddMember("id", rapidjson::Value(-1), message.GetAllocator());
    message.AddMember("proc", rapidjson::Value(4294967295u), message.GetAllocator());
    udp_receiver receiver;
    send_event(message);
    EXPECT_EQ(receiver.receive(), R"({"id":-1,"proc":4294967295})");
}

// A thread keeps its socket (one source port), another thread has its own; a
// socket whose datagrams found nobody listening still reaches a collector that
// listens later.
TEST(SendEvent, EachThreadSendsFromOneSocketOfItsOwn) {
    for (int i = 0; i < 3; ++i)
        send_event(one_string("n", "unheard"));
    udp_receiver receiver;
    send_event(one_string("n", "1"));
    send_event(one_string("n", "2"));
    std::thread([] { send_event(one_string("n", "3")); }).join();
    const auto first = receiver.receive_datagram();
    const auto second = receiver.receive_datagram();
    const auto third = receiver.receive_datagram();
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(first->payload, R"({"n":"1"})");
    EXPECT_EQ(second->payload, R"({"n":"2"})");
    EXPECT_EQ(third->payload, R"({"n":"3"})");
    EXPECT_EQ(first->source_port, second->source_port);
    EXPECT_NE(first->source_port, third->source_port);
}

TEST(SendEvent, NobodyListeningIsNotAnError) {
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i)
        EXPECT_NO_THROW(send_event(one_string("a", "b")));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST(SendEvent, ShortensAnOversizedMessageAndSaysSo) {
    // 'é' (two bytes) and '"' (escaped to two) make every cut point matter.
    std::string long_path = "C:\\";
    while (long_path.size() < 90000)
        long_path += "\xc3\xa9\"x";
    rapidjson::Document message(rapidjson::kObjectType);
    auto& allocator = message.GetAllocator();
    message.AddMember("id", 12, allocator);
    message.AddMember(
        "Filename",
        rapidjson::Value(long_path.c_str(), static_cast<rapidjson::SizeType>(long_path.size()), allocator),
        allocator);
    message.AddMember("Process_Name", rapidjson::Value(long_path.c_str(), 40003, allocator), allocator);
    message.AddMember("Event_Type", "FILESYSTEM", allocator);

    udp_receiver receiver;
    ::testing::internal::CaptureStdout();
    send_event(message);
    const std::string console = ::testing::internal::GetCapturedStdout();
    const auto wire = receiver.receive();
    ASSERT_TRUE(wire);
    EXPECT_LE(wire->size(), max_datagram_payload);
    EXPECT_GT(wire->size(), max_datagram_payload - 16);

    rapidjson::Document received;
    received.Parse<rapidjson::kParseValidateEncodingFlag>(wire->data(), wire->size());
    ASSERT_FALSE(received.HasParseError()) << rapidjson::GetParseError_En(received.GetParseError());
    EXPECT_EQ(received["id"].GetInt(), 12);
    EXPECT_STREQ(received["Event_Type"].GetString(), "FILESYSTEM");
    const std::string filename(received["Filename"].GetString(), received["Filename"].GetStringLength());
    const std::string process(received["Process_Name"].GetString(),
                              received["Process_Name"].GetStringLength());
    EXPECT_EQ(long_path.compare(0, filename.size(), filename), 0);
    EXPECT_EQ(long_path.compare(0, process.size(), process), 0);
    // Both long values were cut to about the same length.
    EXPECT_LT(filename.size() > process.size() ? filename.size() - process.size()
                                               : process.size() - filename.size(),
              8u);

    EXPECT_EQ(console.rfind("MESSAGE SHORTENED TO FIT ONE DATAGRAM (Filename ", 0), 0u) << console;
    EXPECT_NE(console.find("Process_Name "), std::string::npos);
    EXPECT_EQ(std::count(console.begin(), console.end(), '\n'), 1);
}

} // namespace
} // namespace tallowick::output
