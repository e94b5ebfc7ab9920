#include "decoding/property_parser.h"

#include "decoding/string_content.h"
#include "decoding_fixture.h"
#include "platform/simulated/sid_text.h"

namespace etw {
namespace {

using testing::simulated::record_property;
namespace sdk = tallowick::platform::sdk;

std::vector<std::byte> wide_bytes(std::u16string_view units) {
    std::vector<std::byte> bytes;
    for (const char16_t unit : units) {
        bytes.push_back(static_cast<std::byte>(unit & 0xFF));
        bytes.push_back(static_cast<std::byte>(unit >> 8));
    }
    return bytes;
}

std::vector<std::byte> narrow_bytes(std::string_view text) {
    std::vector<std::byte> bytes;
    for (const char c : text)
        bytes.push_back(static_cast<std::byte>(c));
    return bytes;
}

// A property holding exactly `bytes`, sized by the platform, of the given in-type.
record_property exact(std::u16string name, std::vector<std::byte> bytes, std::uint16_t in_type) {
    auto property = record_property::raw(std::move(name), std::move(bytes));
    property.in_type = in_type;
    return property;
}

class TypedReads : public testing::decoding_fixture {
  protected:
    template <typename T> T read(const EVENT_RECORD& record, std::u16string_view name) {
        const event_schema schema(record, context);
        property_parser parser(schema);
        return parser.read_property<T>(name);
    }
    template <typename T> std::string failure(const EVENT_RECORD& record, std::u16string_view name) {
        try {
            read<T>(record, name);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no failure";
    }
    std::uint16_t next_id_ = 0;
    // Each call a schema of its own.
    const EVENT_RECORD& add_one(std::vector<record_property> properties, std::uint16_t flags = 0x40) {
        return add(std::move(properties), flags, ++next_id_);
    }
};

TEST(StringContentLength, DropsTrailingZerosOnlyAndWholeCharactersOnly) {
    const auto wide = wide_bytes(std::u16string(u"a\0b\0\0", 5));
    EXPECT_EQ(string_content_length<char16_t>(wide.data(), 10), 3u);
    EXPECT_EQ(string_content_length<char16_t>(wide.data(), 9), 3u);
    EXPECT_EQ(string_content_length<char16_t>(wide.data(), 2), 1u);
    EXPECT_EQ(string_content_length<char16_t>(wide.data(), 1), 0u);
    EXPECT_EQ(string_content_length<char16_t>(wide.data(), 0), 0u);
    const auto narrow = narrow_bytes(std::string_view("xy\0\0\0", 5));
    EXPECT_EQ(string_content_length<char>(narrow.data(), 5), 2u);
}

TEST_F(TypedReads, WideStringsLoseTheirTrailingZerosAndKeepInnerOnes) {
    struct wide_case {
        std::u16string units;
        std::u16string text;
    };
    const std::vector<wide_case> cases = {
        {std::u16string(u"abc\0\0", 5), u"abc"},
        {u"", u""},
        {std::u16string(u"\0", 1), u""},
        {std::u16string(u"a\0b\0\0", 5), std::u16string(u"a\0b", 3)},
    };
    for (const auto& c : cases) {
        const EVENT_RECORD& record =
            add_one({exact(u"FileName", wide_bytes(c.units), sdk::tdh_intype_unicodestring)});
        EXPECT_EQ(read<std::u16string>(record, u"FileName"), c.text);
    }
    const EVENT_RECORD& written = add_one({record_property::unicode(u"FileName", u"\\Device\\x.txt")});
    EXPECT_EQ(read<std::u16string>(written, u"FileName"), u"\\Device\\x.txt");
}

TEST_F(TypedReads, NarrowStringsAreCopiedByteForByte) {
    const EVENT_RECORD& record = add_one(
        {exact(u"ImageFileName", narrow_bytes(std::string_view("xy\0\0\0", 5)), sdk::tdh_intype_ansistring),
         record_property::ansi(u"Utf8", "caf\xc3\xa9.exe")});
    EXPECT_EQ(read<std::string>(record, u"ImageFileName"), "xy");
    EXPECT_EQ(read<std::string>(record, u"Utf8"), "caf\xc3\xa9.exe");
    EXPECT_EQ(failure<std::string>(record, u"Missing"), "Property with the given name does not exist");
    EXPECT_EQ(failure<std::u16string>(record, u"Missing"), "Property with the given name does not exist");
}

TEST_F(TypedReads, SidsComeFromSidAndWbemsidProperties) {
    const EVENT_RECORD& sid_record = add_one({record_property::sid(u"UserSID", "S-1-5-21-1-2-3-1001")});
    EXPECT_EQ(read<sid>(sid_record, u"UserSID").sid_string, "S-1-5-21-1-2-3-1001");
    for (const std::uint16_t flags : {std::uint16_t{0x40}, std::uint16_t{0x20}}) {
        const EVENT_RECORD& record = add_one(
            {record_property::wbemsid(u"UserSID", "S-1-5-18"), record_property::ansi(u"Image", "a.exe")},
            flags);
        EXPECT_EQ(read<sid>(record, u"UserSID").sid_string, "S-1-5-18");
        EXPECT_EQ(read<std::string>(record, u"Image"), "a.exe");
    }
}

TEST_F(TypedReads, AWbemsidMustBeLongerThanItsPointerHeader) {
    const auto system_sid = *tallowick::platform::simulated::sid_from_text("S-1-5-18");
    for (const std::uint16_t flags : {std::uint16_t{0x40}, std::uint16_t{0x20}}) {
        const std::size_t header = flags == 0x20 ? 8 : 16;
        std::vector<std::byte> blob(header, std::byte{0x11});
        const EVENT_RECORD& header_only = add_one({exact(u"UserSID", blob, sdk::tdh_intype_wbemsid)}, flags);
        EXPECT_EQ(failure<sid>(header_only, u"UserSID"),
                  "Requested a WBEMSID property but data is too small");
        blob.insert(blob.end(), system_sid.begin(), system_sid.end());
        const EVENT_RECORD& with_sid = add_one({exact(u"UserSID", blob, sdk::tdh_intype_wbemsid)}, flags);
        EXPECT_EQ(read<sid>(with_sid, u"UserSID").sid_string, "S-1-5-18");
    }
    // A process without a token: one zero ULONG, and no SID.
    const EVENT_RECORD& null_blob = add_one({record_property::wbemsid(u"UserSID", "")});
    EXPECT_EQ(read<sid>(null_blob, u"UserSID").sid_string, "");
    const EVENT_RECORD& short_blob =
        add_one({exact(u"UserSID", std::vector<std::byte>(3), sdk::tdh_intype_wbemsid)});
    EXPECT_EQ(failure<sid>(short_blob, u"UserSID"), "Requested a WBEMSID property but data is too small");
}

TEST_F(TypedReads, ASidThatDoesNotFitItsPropertyNeverReachesThePlatform) {
    auto sid = *tallowick::platform::simulated::sid_from_text("S-1-5-21-1-2-3-1001");
    sid[1] = std::byte{6}; // claims one sub-authority more than it holds
    const EVENT_RECORD& record = add_one({exact(u"Sid", sid, sdk::tdh_intype_sid),
                                          exact(u"Wbem", std::vector<std::byte>(17), sdk::tdh_intype_wbemsid),
                                          exact(u"Short", std::vector<std::byte>(5), sdk::tdh_intype_sid)});
    for (const auto* name : {u"Sid", u"Wbem", u"Short"})
        EXPECT_EQ(failure<etw::sid>(record, name), "SID does not fit in its property");
    EXPECT_EQ(system.sid_conversions, 0);
}

TEST_F(TypedReads, OtherSidFailuresAreReportedAsSuch) {
    const EVENT_RECORD& record =
        add_one({record_property::unicode(u"FileName", u"x"), record_property::sid(u"UserSID", "S-1-5-18")});
    EXPECT_EQ(failure<sid>(record, u"FileName"), "SID was not a SID or WBEMSID");
    EXPECT_EQ(failure<sid>(record, u"Missing"), "Property with the given name does not exist");
    system.refuse_sid_conversion = true;
    EXPECT_EQ(failure<sid>(record, u"UserSID"), "Failed to get a SID from a property");

    const event_schema schema(record, context);
    property_parser parser(schema);
    etw::sid target{"unchanged"};
    EXPECT_FALSE(parser.try_read_property(u"UserSID", target));
    EXPECT_EQ(target.sid_string, "unchanged");
    std::u16string text = u"unchanged";
    EXPECT_FALSE(parser.try_read_property(u"FilePath", text));
    EXPECT_TRUE(parser.try_read_property(u"FileName", text));
    EXPECT_EQ(text, u"x");
}

TEST_F(TypedReads, ReadsAKernelProcessStartAsTheHandlersDo) {
    testing::simulated::process_event start;
    start.process_id = 4242;
    start.parent_id = 812;
    start.user_sid = "S-1-5-21-1-2-3-1001";
    start.image_file_name = "notepad.exe";
    start.command_line = u"\"C:\\Windows\\notepad.exe\" a.txt";
    const EVENT_RECORD& record = add(testing::simulated::describe_process_event(start));
    EXPECT_EQ(record.EventHeader.ProcessId, 812u);
    EXPECT_EQ(read<std::uint32_t>(record, u"ProcessId"), 4242u);
    EXPECT_EQ(read<std::uint32_t>(record, u"ParentId"), 812u);
    EXPECT_EQ(read<std::string>(record, u"ImageFileName"), "notepad.exe");
    EXPECT_EQ(read<std::u16string>(record, u"CommandLine"), u"\"C:\\Windows\\notepad.exe\" a.txt");
    EXPECT_EQ(read<sid>(record, u"UserSID").sid_string, "S-1-5-21-1-2-3-1001");
}

} // namespace
} // namespace etw
