#include "decoding/predicates.h"

#include "decoding/comparers.h"
#include "decoding/errors.h"
#include "decoding/property_view_predicate.h"
#include "decoding_fixture.h"

#include <cwctype>

namespace etw {
namespace {

using namespace etw::predicates;
using details::and_filter;
using details::not_filter;
using details::or_filter;
using testing::simulated::record_property;
namespace sdk = tallowick::platform::sdk;

using exact_contains = comparers::contains<std::equal_to<char16_t>>;
using caseless_contains = comparers::contains<comparers::iequal_to<char16_t>>;
using exact_ends_with = comparers::ends_with<std::equal_to<char16_t>>;
template <typename Comparer>
using name_test =
    details::property_view_predicate<std::u16string, adapters::generic_string<char16_t>, Comparer>;

// A predicate that must not be evaluated.
struct must_not_run final : details::predicate_base {
    bool operator()(const EVENT_RECORD&, const trace_context&) const override {
        throw std::logic_error("evaluated");
    }
};

struct constant final : details::predicate_base {
    explicit constant(bool value) : value(value) {}
    bool operator()(const EVENT_RECORD&, const trace_context&) const override { return value; }
    bool value;
};

class Predicates : public testing::decoding_fixture {
  protected:
    // A record whose FileName holds exactly `units` (trailing zeros included).
    const EVENT_RECORD& named(std::u16string units) {
        std::vector<std::byte> bytes;
        for (const char16_t unit : units) {
            bytes.push_back(static_cast<std::byte>(unit & 0xFF));
            bytes.push_back(static_cast<std::byte>(unit >> 8));
        }
        auto property = record_property::raw(u"FileName", std::move(bytes));
        property.in_type = sdk::tdh_intype_unicodestring;
        return add({record_property::uint32(u"Before", 1), property}, 0x40, 12);
    }
};

TEST_F(Predicates, HeaderTestsCompareVersionAndOpcode) {
    EVENT_RECORD record{};
    record.EventHeader.EventDescriptor.Version = 2;
    record.EventHeader.EventDescriptor.Opcode = 2;
    EXPECT_FALSE(version_is(1)(record, context));
    EXPECT_TRUE(version_is(2)(record, context));
    EXPECT_FALSE(version_is(258)(record, context));
    const or_filter starts_or_ends(opcode_is(1), opcode_is(2));
    EXPECT_TRUE(starts_or_ends(record, context));
    record.EventHeader.EventDescriptor.Opcode = 3;
    EXPECT_FALSE(starts_or_ends(record, context));
}

TEST_F(Predicates, CombinatorsStopAsSoonAsTheResultIsKnown) {
    const EVENT_RECORD record{};
    EXPECT_FALSE(and_filter(constant(false), must_not_run())(record, context));
    EXPECT_TRUE(or_filter(constant(true), must_not_run())(record, context));
    EXPECT_THROW(and_filter(constant(true), must_not_run())(record, context), std::logic_error);
    EXPECT_THROW(or_filter(constant(false), must_not_run())(record, context), std::logic_error);
    EXPECT_TRUE(not_filter(constant(false))(record, context));
    EXPECT_FALSE(not_filter<not_filter<constant>>(not_filter(constant(false)))(record, context));
    EXPECT_FALSE(and_filter(version_is(1), must_not_run())(record, context));
}

TEST_F(Predicates, ComparersMatchExactlyOrIgnoringCaseAndIgnoreTrailingZeros) {
    struct comparison {
        std::u16string property;
        std::u16string expected;
        bool exact_contains;
        bool caseless_contains;
        bool ends_with;
    };
    const std::vector<comparison> cases = {
        {u"xABCx", u"abc", false, true, false},
        {u"xabcx", u"abc", true, true, false},
        {u"abc", u"abc", true, true, true},
        {u"bc", u"abc", false, false, false},
        {std::u16string(u"xabc\0\0", 6), u"abc", true, true, true},
        {u"", u"", true, true, true},
        {u"anything", u"", true, true, true},
        {u"\\Users\\A\\AppData\\Roaming", u"\\appdata\\", false, true, false},
        {u"C:\\x.DLL", u".dll", false, true, false},
        {u"aab", u"ab", true, true, true},
    };
    for (const auto& c : cases) {
        const EVENT_RECORD& record = named(c.property);
        EXPECT_EQ(name_test<exact_contains>(u"FileName", c.expected)(record, context), c.exact_contains);
        EXPECT_EQ(name_test<caseless_contains>(u"FileName", c.expected)(record, context),
                  c.caseless_contains);
        EXPECT_EQ(name_test<exact_ends_with>(u"FileName", c.expected)(record, context), c.ends_with);
    }
}

TEST(IequalTo, AgreesWithTowupperOnEveryUnit) {
    const comparers::iequal_to<char16_t> equal;
    for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
        const auto upper = static_cast<char16_t>(std::towupper(static_cast<std::wint_t>(unit)));
        ASSERT_EQ(comparers::iequal_to<char16_t>::upper(static_cast<char16_t>(unit)),
                  std::towupper(static_cast<std::wint_t>(unit)))
            << unit;
        EXPECT_TRUE(equal(static_cast<char16_t>(unit), upper));
    }
    EXPECT_TRUE(equal(u'a', u'A'));
    EXPECT_FALSE(equal(u'a', u'b'));
    EXPECT_FALSE(equal(u'[', u'{'));
}

TEST_F(Predicates, AStringTestOnAMissingOrUnreadablePropertyIsFalse) {
    const EVENT_RECORD& without = add({record_property::uint32(u"Other", 1)}, 0x40, 20);
    EXPECT_FALSE(name_test<exact_contains>(u"FileName", u"")(without, context));
    EXPECT_TRUE(not_filter(name_test<exact_contains>(u"FileName", u"x"))(without, context));

    testing::simulated::record_description overrun;
    overrun.header.id = 21;
    overrun.properties = {record_property::unicode(u"Before", u"abc"),
                          record_property::unicode(u"FileName", u"x")};
    overrun.truncate = 5;
    EXPECT_FALSE(name_test<exact_contains>(u"FileName", u"")(add(overrun), context));
}

TEST_F(Predicates, AMissingSchemaEscapesTheStringTest) {
    testing::simulated::record_description unknown;
    unknown.header.id = 22;
    unknown.schema_known = false;
    const EVENT_RECORD& record = add(unknown);
    EXPECT_THROW(name_test<exact_contains>(u"FileName", u"x")(record, context), could_not_find_schema);
    EXPECT_THROW(not_filter(name_test<exact_contains>(u"FileName", u"x"))(record, context),
                 could_not_find_schema);
}

TEST_F(Predicates, EachStringTestLooksTheSchemaUpOnce) {
    const EVENT_RECORD& record = named(u"\\Device\\HarddiskVolume3\\Users\\a\\report.docx");
    const auto chain = and_filter(
        version_is(0), and_filter(not_filter(name_test<exact_ends_with>(u"FileName", u".dll")),
                                  not_filter(name_test<caseless_contains>(u"FileName", u"\\appdata\\"))));
    EXPECT_TRUE(chain(record, context));
    EXPECT_EQ(schema_fetches(), 2u); // fetched once, then cached
    EXPECT_EQ(context.cache.size(), 1u);
}

} // namespace
} // namespace etw
