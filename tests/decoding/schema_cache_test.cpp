#include "decoding/schema_cache.h"

#include "decoding/errors.h"
#include "decoding/event_schema.h"
#include "decoding_fixture.h"
#include "platform/windows_facts.h"

#include <cstring>

namespace etw {
namespace {

using tallowick::testing::event_information_call;
using testing::simulated::record_property;

TEST(SchemaCacheKey, HashesAsDocumented) {
    EXPECT_EQ(schema_cache_key_hash{}(schema_cache_key{}), 0x010444C2C3304391u);
    EXPECT_EQ(guid_hash(tallowick::platform::process_guid), 0xC36AB97Cu);
    const GUID high_byte{0, 0, 0, {0, 0, 0x80, 0, 0, 0, 0, 0xFF}};
    EXPECT_EQ(guid_hash(high_byte), 0x800000FFu);
    const GUID all_ones{0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    EXPECT_EQ(guid_hash(all_ones), 0xFFFFFFFFu ^ 0xFFFFFFFFu ^ 0xFF0000FFu);
}

class SchemaCache : public testing::decoding_fixture {
  protected:
    testing::simulated::record_description description() const {
        testing::simulated::record_description d;
        d.header.provider = tallowick::platform::kernel_file_provider;
        d.header.id = tallowick::platform::file_create_event;
        d.header.version = 1;
        d.properties = {record_property::uint32(u"ShareAccess", 7)};
        return d;
    }
};

TEST_F(SchemaCache, FetchesWithExactlyTwoCallsTheFirstForTheSize) {
    auto d = description();
    const EVENT_RECORD& record = add(d);
    const auto buffer = fetch_event_info(record);
    const auto built = testing::simulated::build_record(d);
    const auto expected = built.event_info();
    EXPECT_EQ(std::memcmp(buffer.get(), expected.data(), expected.size()), 0);

    const auto calls = tracing.calls_of<event_information_call>();
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.record, &record);
        EXPECT_EQ(call.context_count, 0u);
        EXPECT_EQ(call.context, nullptr);
    }
    EXPECT_FALSE(calls[0].buffer_given);
    EXPECT_EQ(calls[0].buffer_size, 0u);
    EXPECT_TRUE(calls[1].buffer_given);
    EXPECT_EQ(calls[1].buffer_size, expected.size());
}

TEST_F(SchemaCache, RaisesTheRecordStatusOfEitherCall) {
    const EVENT_RECORD& record = add(description());
    tracing.event_information_answers = {{5, {}}};
    EXPECT_THROW(fetch_event_info(record), need_to_be_admin_failure);
    EXPECT_EQ(schema_fetches(), 1u);

    tracing.event_information_answers = {{122, 400}, {87, {}}};
    EXPECT_THROW(fetch_event_info(record), invalid_parameter);
    EXPECT_EQ(schema_fetches(), 3u);

    // A first call that succeeds outright still leads to the second.
    tracing.event_information_answers = {{0, 200}, {0, {}}};
    EXPECT_NO_THROW(fetch_event_info(record));
    EXPECT_EQ(schema_fetches(), 5u);
}

TEST_F(SchemaCache, AFailedFetchLeavesAnEntryWithoutSchemaAndIsTriedAgain) {
    auto d = description();
    d.schema_known = false;
    const EVENT_RECORD& unknown = add(d);
    try {
        context.cache.find_or_fetch(unknown);
        FAIL() << "no exception";
    } catch (const could_not_find_schema& error) {
        EXPECT_STREQ(error.what(), "Could not find the schema: status_code=1168 "
                                   "provider_id=edd08927-9cc4-4e65-b970-c2560fb5c289 event_id=12");
    }
    EXPECT_EQ(context.cache.size(), 1u);
    EXPECT_EQ(schema_fetches(), 1u);

    add(description()); // the same kind, now known
    EXPECT_NE(context.cache.find_or_fetch(unknown), nullptr);
    EXPECT_EQ(schema_fetches(), 3u);
    EXPECT_EQ(context.cache.size(), 1u);
}

TEST_F(SchemaCache, KeysOnProviderIdOpcodeVersionAndLevelOnly) {
    auto d = description();
    const EVENT_RECORD& first = add(d);
    d.header.task = 99;
    d.header.keywords = 0x1000;
    d.header.channel = 16;
    d.properties = {record_property::unicode(u"Other", u"x")};
    const EVENT_RECORD& same_kind = add(d);
    d.header.level = 5;
    const EVENT_RECORD& other_level = add(d);

    const TRACE_EVENT_INFO* info = context.cache.find_or_fetch(first);
    EXPECT_EQ(context.cache.find_or_fetch(same_kind), info);
    EXPECT_EQ(schema_fetches(), 2u);
    EXPECT_NE(context.cache.find_or_fetch(other_level), info);
    EXPECT_EQ(schema_fetches(), 4u);
    EXPECT_EQ(context.cache.size(), 2u);
}

// The shortcut for a record of the last kind must compare every key field.
TEST_F(SchemaCache, AnyOneKeyFieldChangedRightAfterARecordFetchesAnew) {
    using header = testing::simulated::record_header;
    struct row {
        const char* field;
        void (*change)(header&);
    };
    const row rows[] = {
        {"provider", [](header& h) { h.provider = tallowick::platform::kernel_process_provider; }},
        {"id", [](header& h) { h.id = 13; }},
        {"opcode", [](header& h) { h.opcode = 2; }},
        {"version", [](header& h) { h.version = 2; }},
        {"level", [](header& h) { h.level = 5; }},
    };
    for (const row& r : rows) {
        schema_cache cache;
        auto d = description();
        const TRACE_EVENT_INFO* info = cache.find_or_fetch(add(d));
        const std::size_t fetches = schema_fetches();
        r.change(d.header);
        EXPECT_NE(cache.find_or_fetch(add(d)), info) << r.field;
        EXPECT_EQ(schema_fetches(), fetches + 2) << r.field;
        EXPECT_EQ(cache.size(), 2u) << r.field;
    }
}

TEST_F(SchemaCache, SchemasStayPutWhileTheCacheGrows) {
    auto d = description();
    const EVENT_RECORD& first = add(d);
    const TRACE_EVENT_INFO* info = context.cache.find_or_fetch(first);
    for (std::uint16_t id = 100; id < 1100; ++id) {
        d.header.id = id;
        context.cache.find_or_fetch(add(d));
    }
    EXPECT_EQ(context.cache.size(), 1001u);
    EXPECT_EQ(context.cache.find_or_fetch(first), info);
    EXPECT_EQ(info->PropertyCount, 1u);
    EXPECT_EQ(info->EventDescriptor.Id, 12);
}

TEST_F(SchemaCache, EventSchemaReadsIdAndOpcodeFromTheHeader) {
    auto d = description();
    d.header.opcode = 2;
    const EVENT_RECORD& record = add(d);
    const event_schema schema(record, context);
    EXPECT_EQ(&schema.record(), &record);
    EXPECT_EQ(schema.event_info(), context.cache.find_or_fetch(record));
    EXPECT_EQ(schema.event_id(), 12);
    EXPECT_EQ(schema.event_opcode(), 2);
}

} // namespace
} // namespace etw
