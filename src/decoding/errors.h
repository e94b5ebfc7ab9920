#pragma once
// The trace layer's exceptions: one class per platform status a caller may want
// to tell apart, and one for every other status.

#include "platform/sdk/etw_types.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace etw {

class need_to_be_admin_failure : public std::runtime_error {
  public:
    need_to_be_admin_failure() : std::runtime_error("Need to be an admin") {}
};

class function_not_supported : public std::runtime_error {
  public:
    function_not_supported() : std::runtime_error("This function is not supported on this system.") {}
};

// A logic error, unlike its siblings: a handler for std::runtime_error lets it pass.
class invalid_parameter : public std::logic_error {
  public:
    invalid_parameter() : std::logic_error("Invalid parameter given") {}
};

class trace_already_registered : public std::runtime_error {
  public:
    trace_already_registered() : std::runtime_error("The trace session has already been registered") {}
};

class could_not_find_schema : public std::runtime_error {
  public:
    could_not_find_schema() : std::runtime_error("Could not find the schema") {}
    // `detail` is a record detail (describe_record_status).
    explicit could_not_find_schema(const std::string& detail)
        : std::runtime_error("Could not find the schema: " + detail) {}
};

class no_trace_sessions_remaining : public std::runtime_error {
  public:
    no_trace_sessions_remaining() : std::runtime_error("No more trace sessions available.") {}
};

class unexpected_error : public std::runtime_error {
  public:
    explicit unexpected_error(std::uint32_t status);
    // `detail` is a record detail (describe_record_status).
    explicit unexpected_error(const std::string& detail)
        : std::runtime_error("An unexpected error occurred: " + detail) {}
};

// A session of our name that we may not stop runs, and cannot deliver what we
// need: attaching to it would watch nothing.
class attached_session_failure : public std::runtime_error {
  public:
    explicit attached_session_failure(const std::string& why)
        : std::runtime_error("a running session of this name may not be stopped, and " + why) {}
};

class open_trace_failure : public std::runtime_error {
  public:
    open_trace_failure() : std::runtime_error("Failure to open trace") {}
};

// Returns for 0; throws the class chosen by `status` otherwise.
void check_status(std::uint32_t status);

// Returns for STATUS_SUCCESS; throws unexpected_error with the NTSTATUS in
// hexadecimal otherwise, the form its documentation and every lookup use.
void check_nt_status(std::uint32_t status);

// As check_status, for a status that processing `record` produced: the schema
// and unexpected classes carry the record detail.
void check_record_status(std::uint32_t status, const EVENT_RECORD& record);

// "status_code=S provider_id=G event_id=E" for the record.
std::string describe_record_status(std::uint32_t status, const EVENT_RECORD& record);

} // namespace etw
