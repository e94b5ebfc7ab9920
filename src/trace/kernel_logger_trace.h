#pragma once

#include "trace/session_providers.h"
#include "trace/trace_session.h"

#include <string>
#include <vector>

namespace etw {

// The kernel logger session: its providers are switched on by the enable flags
// of its properties block and by kernel group masks, not by enable calls.
class kernel_logger_trace final : public trace_session {
  public:
    // Before Windows 8 the session is always "NT Kernel Logger"; from Windows 8
    // on, `name`, or a fresh GUID's text when it is empty. Throws std::length_error
    // for a name longer than 259 characters, before any platform call.
    explicit kernel_logger_trace(std::u16string name);
    // Stops the session; a failure is printed, never thrown.
    ~kernel_logger_trace() override;

    // Registers a provider; before `start` only. No duplicate check.
    void enable(const kernel::kernel_provider& registered) { providers_.push_back(registered); }
    void enable(const kernel::kernel_provider&&) = delete;

    const kernel_provider_list& providers() const { return providers_; }

    // The record callback handed to the platform.
    static void on_kernel_record(EVENT_RECORD* record);

  private:
    session_properties fill_properties() override;
    void activate_providers() override;
    void request_rundown() override;
    PEVENT_RECORD_CALLBACK record_callback() const override { return &kernel_logger_trace::on_kernel_record; }
    std::optional<std::string> attached_session_problem(const EVENT_TRACE_PROPERTIES& queried) override;
    std::vector<session_tampering> tampering(const EVENT_TRACE_PROPERTIES& queried) override;
    void undo(const session_tampering& found) override;
    std::optional<std::string> replacement_notice() const override;

    // The enable flags of every registered provider.
    std::uint32_t wanted_flags() const;

    kernel_provider_list providers_;
};

} // namespace etw
