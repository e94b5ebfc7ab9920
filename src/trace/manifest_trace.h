#pragma once

#include "trace/provider_merge.h"
#include "trace/session_providers.h"
#include "trace/trace_session.h"

#include <string>
#include <vector>

namespace etw {

// A trace session for registered (manifest) providers: each provider GUID is
// enabled once, with the merged settings and event ids of its providers.
class manifest_trace final : public trace_session {
  public:
    // An empty name becomes a fresh GUID's text. Throws std::length_error for a
    // name longer than 259 characters, before any platform call.
    explicit manifest_trace(std::u16string name);
    // Stops the session; a failure is printed, never thrown.
    ~manifest_trace() override;

    // Registers a provider; before `start` only. No duplicate check.
    void enable(const manifest_provider& registered) { providers_.push_back(registered); }
    void enable(const manifest_provider&&) = delete;

    const manifest_provider_list& providers() const { return providers_; }

    // The record callback handed to the platform.
    static void on_user_record(EVENT_RECORD* record);

  private:
    session_properties fill_properties() override;
    void activate_providers() override;
    void request_rundown() override;
    PEVENT_RECORD_CALLBACK record_callback() const override { return &manifest_trace::on_user_record; }
    std::optional<std::string> attached_session_problem(const EVENT_TRACE_PROPERTIES& queried) override;
    std::vector<session_tampering> tampering(const EVENT_TRACE_PROPERTIES& queried) override;
    void undo(const session_tampering& found) override;

    // One enable call for a provider GUID with the merged settings of its providers.
    void enable_provider(const GUID& guid, const merged_settings& settings);

    manifest_provider_list providers_;
};

} // namespace etw
