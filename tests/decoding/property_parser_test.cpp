#include "decoding/property_parser.h"

#include "decoding_fixture.h"

#include <limits>

namespace etw {
namespace {

using tallowick::testing::property_size_call;
using testing::simulated::property_type;
using testing::simulated::record_property;

std::vector<std::byte> bytes_of(std::initializer_list<int> values) {
    std::vector<std::byte> bytes;
    for (const int value : values)
        bytes.push_back(static_cast<std::byte>(value));
    return bytes;
}

class PropertyParser : public testing::decoding_fixture {};

TEST_F(PropertyParser, WalksOnlyAsFarAsAskedAndAnswersEarlierNamesFromWhatItWalked) {
    // Blobs without a declared length are sized by the platform: each query is one step of the walk.
    const EVENT_RECORD& record =
        add({record_property::raw(u"First", bytes_of({1})), record_property::raw(u"Second", bytes_of({2, 2})),
             record_property::raw(u"Third", bytes_of({3, 3, 3})),
             record_property::raw(u"Fourth", bytes_of({4}))});
    const event_schema schema(record, context);
    property_parser parser(schema);
    const property_slice third = parser.locate_property(u"Third");
    EXPECT_EQ(size_queries(), 3u);
    ASSERT_TRUE(third.found());
    EXPECT_EQ(third.length, 3u);
    EXPECT_EQ(third.data, static_cast<const std::byte*>(record.UserData) + 3);

    const property_slice first = parser.locate_property(u"First");
    EXPECT_EQ(first.data, static_cast<const std::byte*>(record.UserData));
    EXPECT_EQ(parser.locate_property(u"Third").data, third.data);
    EXPECT_EQ(size_queries(), 3u);

    EXPECT_FALSE(parser.locate_property(u"Missing").found());
    EXPECT_EQ(size_queries(), 4u);
    EXPECT_TRUE(parser.locate_property(u"Fourth").found());
    EXPECT_FALSE(parser.locate_property(u"Missing").found());
    EXPECT_EQ(size_queries(), 4u);
}

TEST_F(PropertyParser, AsksThePlatformWithOneDescriptorNamingTheProperty) {
    const EVENT_RECORD& record = add({record_property::raw(u"Blob", bytes_of({1, 2, 3}))});
    const event_schema schema(record, context);
    property_parser parser(schema);
    EXPECT_EQ(parser.locate_property(u"Blob").length, 3u);
    const auto call = tracing.calls_of<property_size_call>().at(0);
    EXPECT_EQ(call.record, &record);
    EXPECT_EQ(call.context_count, 0u);
    EXPECT_EQ(call.context, nullptr);
    ASSERT_EQ(call.descriptors.size(), 1u);
    EXPECT_EQ(call.property_name, u"Blob");
    EXPECT_EQ(call.descriptors[0].ArrayIndex, std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(call.descriptors[0].Reserved, 0u);
    EXPECT_EQ(call.preset_size, 0u);
}

TEST_F(PropertyParser, APropertyThePlatformCannotSizeIsEmpty) {
    const EVENT_RECORD& record =
        add({record_property::raw(u"Blob", bytes_of({1, 2})), record_property::uint32(u"After", 0x01020201)});
    tracing.property_size_answers = {{1168, {}}};
    const event_schema schema(record, context);
    property_parser parser(schema);
    const property_slice blob = parser.locate_property(u"Blob");
    EXPECT_EQ(blob.length, 0u);
    EXPECT_EQ(parser.locate_property(u"After").data, blob.data);
}

TEST_F(PropertyParser, SizesPointersByTheHeadersBitness) {
    for (const std::uint16_t flags : {std::uint16_t{0x40}, std::uint16_t{0x20}}) {
        const EVENT_RECORD& record = add(
            {record_property::pointer(u"Irp", 0x1234), record_property::uint32(u"ShareAccess", 7)}, flags);
        const event_schema schema(record, context);
        property_parser parser(schema);
        const std::uint32_t pointer_size = flags == 0x20 ? 4 : 8;
        EXPECT_EQ(parser.locate_property(u"Irp").length, pointer_size);
        EXPECT_EQ(parser.locate_property(u"Irp").info->length, 8);
        EXPECT_EQ(parser.read_property<std::uint32_t>(u"ShareAccess"), 7u);
        EXPECT_EQ(parser.locate_property(u"ShareAccess").data,
                  static_cast<const std::byte*>(record.UserData) + pointer_size);
        EXPECT_EQ(size_queries(), 0u);
    }
}

TEST_F(PropertyParser, MeasuresStringsUpToTheirTerminatorWithoutThePlatform) {
    struct string_case {
        const char* what;
        record_property property;
        std::optional<std::size_t> truncate;
        std::uint32_t size;
    };
    auto ansi_unterminated = record_property::ansi(u"S", "xyz");
    const std::vector<string_case> cases = {
        {"wide with more data after", record_property::unicode(u"S", u"ab"), {}, 6},
        {"narrow with more data after", record_property::ansi(u"S", "ab"), {}, 3},
        {"narrow unterminated at the end", ansi_unterminated, 3, 3},
        {"wide unterminated, even rest", record_property::unicode(u"S", u"abc"), 6, 6},
    };
    std::uint16_t id = 0;
    for (const auto& c : cases) {
        testing::simulated::record_description description;
        description.header.id = ++id; // one schema per layout
        description.properties = {c.property, record_property::uint32(u"After", 1)};
        description.truncate = c.truncate;
        const EVENT_RECORD& record = add(description);
        const event_schema schema(record, context);
        property_parser parser(schema);
        EXPECT_EQ(parser.locate_property(u"S").length, c.size) << c.what;
        EXPECT_EQ(size_queries(), 0u) << c.what;
    }
}

TEST_F(PropertyParser, AnUnterminatedOddWideStringOverrunsThePayload) {
    testing::simulated::record_description description;
    description.properties = {record_property::uint32(u"Before", 5),
                              record_property::unicode(u"Name", u"abc"),
                              record_property::uint32(u"After", 1)};
    description.truncate = 4 + 5; // "ab" and one byte of "c"
    const EVENT_RECORD& record = add(description);
    const event_schema schema(record, context);
    property_parser parser(schema);
    const auto* info = schema.event_info();
    const auto* name_entry = &info->EventPropertyInfoArray[0] + 1;
    const auto* name = reinterpret_cast<const std::byte*>(info) + name_entry->NameOffset;
    EXPECT_EQ(parser.measure_property(static_cast<const std::byte*>(record.UserData) + 4, name, record,
                                      *name_entry),
              6u);

    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            parser.locate_property(u"After");
            FAIL() << "no exception";
        } catch (const std::out_of_range& error) {
            EXPECT_STREQ(error.what(), "Property length past end of property buffer");
        }
    }
    EXPECT_THROW(parser.locate_property(u"Name"), std::out_of_range);
    EXPECT_EQ(parser.read_property<std::uint32_t>(u"Before"), 5u);
}

TEST_F(PropertyParser, DeclarationsOutsideTheRulesGoToThePlatform) {
    auto param_length = record_property::uint32(u"Counted", 9);
    param_length.flags = 0x2;
    auto no_string_out_type = record_property::unicode(u"Text", u"hi");
    no_string_out_type.out_type = 0;
    const EVENT_RECORD& record =
        add({param_length, no_string_out_type, record_property::uint32(u"After", 3)});
    const event_schema schema(record, context);
    property_parser parser(schema);
    EXPECT_EQ(parser.read_property<std::uint32_t>(u"After"), 3u);
    EXPECT_EQ(parser.locate_property(u"Counted").length, 4u);
    EXPECT_EQ(parser.locate_property(u"Text").length, 6u);
    EXPECT_EQ(size_queries(), 2u);
}

TEST_F(PropertyParser, ReadsFixedSizeValuesOfExactlyTheirSize) {
    const EVENT_RECORD& record =
        add({record_property::uint32(u"ProcessId", 4242),
             record_property::integer(u"Wide", property_type::uint64, 0x1122334455667788)});
    const event_schema schema(record, context);
    property_parser parser(schema);
    EXPECT_EQ(parser.read_property<std::uint32_t>(u"ProcessId"), 4242u);
    EXPECT_EQ(parser.read_property<std::uint64_t>(u"Wide"), 0x1122334455667788u);

    const auto failure = [&](std::u16string_view name) -> std::string {
        try {
            parser.read_property<std::uint32_t>(name);
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "no failure";
    };
    EXPECT_EQ(failure(u"Wide"), "Property size doesn't match requested size");
    EXPECT_EQ(failure(u"processid"), "Property with the given name does not exist");
    EXPECT_EQ(failure(u"Process"), "Property with the given name does not exist");
    EXPECT_EQ(failure(u"ProcessIdX"), "Property with the given name does not exist");

    std::uint32_t target = 77;
    EXPECT_FALSE(parser.try_read_property(u"Wide", target));
    EXPECT_FALSE(parser.try_read_property(u"processid", target));
    EXPECT_EQ(target, 77u);
    EXPECT_TRUE(parser.try_read_property(u"ProcessId", target));
    EXPECT_EQ(target, 4242u);
}

TEST_F(PropertyParser, ARecordWithoutPropertiesFindsNothingAndAsksNothing) {
    const EVENT_RECORD& record = add(std::vector<record_property>{});
    const event_schema schema(record, context);
    property_parser parser(schema);
    EXPECT_FALSE(parser.locate_property(u"Anything").found());
    EXPECT_EQ(size_queries(), 0u);
}

TEST_F(PropertyParser, KeepsEveryWalkedPropertyOfALongRecord) {
    std::vector<record_property> properties;
    for (std::uint32_t i = 0; i < 40; ++i)
        properties.push_back(record_property::uint32(std::u16string{u'P', char16_t(u'A' + i)}, i * 3));
    const EVENT_RECORD& record = add(properties);
    const event_schema schema(record, context);
    property_parser parser(schema);
    for (const std::uint32_t i : {39u, 0u, 17u, 16u, 15u, 32u}) {
        EXPECT_EQ(parser.read_property<std::uint32_t>(std::u16string{u'P', char16_t(u'A' + i)}), i * 3);
    }
}

} // namespace
} // namespace etw
