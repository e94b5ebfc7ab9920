#include "decoding/errors.h"

#include "platform/windows_facts.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace etw {
namespace {

EVENT_RECORD record_of(const GUID& provider, std::uint16_t id) {
    EVENT_RECORD record{};
    record.EventHeader.ProviderId = provider;
    record.EventHeader.EventDescriptor.Id = id;
    return record;
}

const GUID process_class = tallowick::platform::process_guid;

// Runs `check` and returns which family caught it and its message.
struct outcome {
    std::string kind;
    std::string message;
};

template <typename Expected> outcome run(const std::function<void()>& check) {
    try {
        check();
    } catch (const Expected& error) {
        return {"expected", error.what()};
    } catch (const std::exception& error) {
        return {"other", error.what()};
    }
    return {"none", ""};
}

TEST(CheckStatus, ZeroPassesBothChecks) {
    const EVENT_RECORD record = record_of(process_class, 1);
    EXPECT_NO_THROW(check_status(0));
    EXPECT_NO_THROW(check_record_status(0, record));
}

TEST(CheckStatus, ChoosesTheClassAndMessageOfEachStatus) {
    const EVENT_RECORD record = record_of(process_class, 1);
    const auto both = [&](std::uint32_t status, auto tag, const std::string& plain,
                          const std::string& detailed) {
        using expected = typename decltype(tag)::type;
        const outcome from_status = run<expected>([&] { check_status(status); });
        EXPECT_EQ(from_status.kind, "expected") << status;
        EXPECT_EQ(from_status.message, plain) << status;
        const outcome from_record = run<expected>([&] { check_record_status(status, record); });
        EXPECT_EQ(from_record.kind, "expected") << status;
        EXPECT_EQ(from_record.message, detailed) << status;
    };
    const std::string detail = "provider_id=3d6fa8d0-fe05-11d0-9dda-00c04fd7ba7c event_id=1";
    both(5, std::type_identity<need_to_be_admin_failure>{}, "Need to be an admin", "Need to be an admin");
    both(50, std::type_identity<function_not_supported>{}, "This function is not supported on this system.",
         "This function is not supported on this system.");
    both(87, std::type_identity<invalid_parameter>{}, "Invalid parameter given", "Invalid parameter given");
    both(183, std::type_identity<trace_already_registered>{}, "The trace session has already been registered",
         "The trace session has already been registered");
    both(1168, std::type_identity<could_not_find_schema>{}, "Could not find the schema",
         "Could not find the schema: status_code=1168 " + detail);
    both(1450, std::type_identity<no_trace_sessions_remaining>{}, "No more trace sessions available.",
         "No more trace sessions available.");
    both(6, std::type_identity<unexpected_error>{}, "An unexpected error occurred: status_code=6",
         "An unexpected error occurred: status_code=6 " + detail);
    both(0xC0000022, std::type_identity<unexpected_error>{},
         "An unexpected error occurred: status_code=3221225506",
         "An unexpected error occurred: status_code=3221225506 " + detail);
}

TEST(CheckStatus, NtStatusesAreRaisedInHexadecimal) {
    EXPECT_NO_THROW(check_nt_status(0));
    const outcome failed = run<unexpected_error>([] { check_nt_status(0xC0000022); });
    EXPECT_EQ(failed.kind, "expected");
    EXPECT_EQ(failed.message, "An unexpected error occurred: status_code=0xC0000022");
}

TEST(CheckStatus, InvalidParameterIsALogicErrorNotARuntimeError) {
    EXPECT_EQ(run<std::runtime_error>([] { check_status(87); }).kind, "other");
    EXPECT_EQ(run<std::logic_error>([] { check_status(87); }).kind, "expected");
    EXPECT_EQ(run<std::runtime_error>([] { check_status(5); }).kind, "expected");
    EXPECT_EQ(open_trace_failure().what(), std::string("Failure to open trace"));
}

TEST(DescribeRecordStatus, PadsGuidGroupsAndPrintsUnsignedNumbers) {
    const GUID small{0xABCD, 0x1, 0x2, {0, 1, 2, 3, 4, 5, 6, 0xFF}};
    EXPECT_EQ(describe_record_status(4294967295u, record_of(small, 65535)),
              "status_code=4294967295 provider_id=0000abcd-0001-0002-0001-0203040506ff event_id=65535");
}

} // namespace
} // namespace etw
