#include "output/datagram_fit.h"

#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>

namespace tallowick::output {
namespace {

std::string serialise(const rapidjson::Document& message) {
    rapidjson::StringBuffer text;
    rapidjson::Writer<rapidjson::StringBuffer> writer(text);
    message.Accept(writer);
    return {text.GetString(), text.GetSize()};
}

std::string text_of(const rapidjson::Value& value) {
    return {value.GetString(), value.GetStringLength()};
}

bool is_character_boundary(const std::string& text, std::size_t position) {
    return position >= text.size() || (static_cast<unsigned char>(text[position]) & 0xC0) != 0x80;
}

void add(rapidjson::Document& message, const char* key, const std::string& value) {
    message.AddMember(rapidjson::StringRef(key),
                      rapidjson::Value(value.c_str(), static_cast<rapidjson::SizeType>(value.size()),
                                       message.GetAllocator()),
                      message.GetAllocator());
}

TEST(EscapedSize, CountsWhatTheDefaultWriterWrites) {
    for (const std::string& text :
         {std::string("plain/text"), std::string("\"\\\b\f\n\r\t"), std::string("\x01\x1f\x7f", 3),
          std::string("\0", 1), std::string("\xc3\xa9\xf0\x9f\x98\x80")}) {
        rapidjson::Document message(rapidjson::kObjectType);
        add(message, "k", text);
        EXPECT_EQ(escaped_size(text) + 8, serialise(message).size()) << text; // {"k":""}
    }
}

// Every cut lands on a character boundary outside any escape, the result fits,
// and it is no shorter than it has to be.
TEST(ShortenToFit, CutsLongValuesToOneCommonLengthJustUnderTheLimit) {
    std::string awkward; // a 2-byte character, an escaped quote, a 6-byte escape, a 4-byte character
    while (awkward.size() < 3000)
        awkward += "\xc3\xa9\"\x01\xf0\x9f\x98\x80z";
    const std::string short_value = "short\tvalue";
    for (std::size_t limit = 400; limit <= 2600; limit += 37) {
        rapidjson::Document message(rapidjson::kObjectType);
        message.AddMember("id", 12, message.GetAllocator());
        add(message, "Filename", awkward);
        add(message, "Operation", short_value);
        add(message, "Process_Name", awkward.substr(0, 1500));
        const std::size_t before = serialise(message).size();

        const auto cuts = shorten_to_fit(message, before, limit);
        ASSERT_TRUE(cuts) << limit;
        const std::string after = serialise(message);
        ASSERT_LE(after.size(), limit);
        // At most one character plus one escape lost per value beyond what the limit demands.
        EXPECT_GT(after.size() + 2 * (4 + 6), limit);
        EXPECT_EQ(message["id"].GetInt(), 12);
        EXPECT_EQ(text_of(message["Operation"]), short_value);

        for (const char* key : {"Filename", "Process_Name"}) {
            const std::string value = text_of(message[key]);
            EXPECT_EQ(awkward.compare(0, value.size(), value), 0) << key;
            EXPECT_TRUE(is_character_boundary(awkward, value.size())) << key << " at " << limit;
        }
        const std::size_t filename = escaped_size(text_of(message["Filename"]));
        const std::size_t process = escaped_size(text_of(message["Process_Name"]));
        if (cuts->size() == 2) {
            EXPECT_LE(filename > process ? filename - process : process - filename, 10u);
        }
        for (const shortened_value& cut : *cuts)
            EXPECT_LT(cut.new_bytes, cut.old_bytes);
    }
}

TEST(ShortenToFit, LeavesAFittingMessageAndGivesUpOnOneThatCannotFit) {
    rapidjson::Document message(rapidjson::kObjectType);
    add(message, "Filename", std::string(100, 'a'));
    const std::string before = serialise(message);
    EXPECT_EQ(shorten_to_fit(message, before.size(), before.size())->size(), 0u);

    // The keys and quotes alone exceed the limit.
    EXPECT_FALSE(shorten_to_fit(message, before.size(), 10));
    EXPECT_EQ(serialise(message), before);

    rapidjson::Document number(rapidjson::kArrayType);
    number.PushBack(1, number.GetAllocator());
    EXPECT_FALSE(shorten_to_fit(number, 100, 2));
}

} // namespace
} // namespace tallowick::output
