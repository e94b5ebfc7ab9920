#pragma once

#include "platform/sdk/etw_types.h"
#include "platform/simulated/scenario.h"
#include "platform/simulated/session_state.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::platform::simulated {

// The machine's named trace sessions, from the controller's side: creation under
// the machine's admin rule and session limit, stops and queries by name or
// handle, providers enabled per session, the kernel logger and its group masks.
// Sessions left running from before count like any other. Not locked: the
// tracing realisation serialises every call.
class session_table {
  public:
    explicit session_table(const machine_config& machine);

    // StartTraceW.
    std::uint32_t start(TRACEHANDLE* handle, const char16_t* name, EVENT_TRACE_PROPERTIES* properties);
    // ControlTraceW with a query, stop, update or flush: the session by `handle`
    // when it is nonzero, else by `name`. A query or stop fills `properties`
    // (when given) with the session's settings and counters, a stop's with the
    // final ones, and writes the session's handle (its logger id in the low 16
    // bits) to Wnode.HistoricalContext and, for a kernel logger, its
    // EnableFlags. An update sets a kernel logger's EnableFlags (0 switches
    // every system provider off) and answers like a query. A stopped session is
    // marked and forgotten; `stopped` receives it.
    std::uint32_t control(TRACEHANDLE handle, const char16_t* name, EVENT_TRACE_PROPERTIES* properties,
                          std::uint32_t control_code, std::shared_ptr<session_state>* stopped = nullptr);
    // EnumerateTraceGuidsEx(TraceGuidQueryInfo): one provider instance with a
    // TRACE_ENABLE_INFO per session that enabled the provider.
    std::uint32_t provider_enables(const GUID& provider, void* out, std::uint32_t out_size,
                                   std::uint32_t* returned) const;
    // EnableTraceEx2 (the timeout does not matter here).
    std::uint32_t enable(TRACEHANDLE handle, const GUID* provider, std::uint32_t control_code,
                         std::uint8_t level, std::uint64_t match_any_keyword, std::uint64_t match_all_keyword,
                         const ENABLE_TRACE_PARAMETERS* parameters);
    // NtQuerySystemInformation / NtSetSystemInformation: NTSTATUS results.
    std::uint32_t query_group_masks(std::uint32_t information_class, void* information, std::uint32_t length,
                                    std::uint32_t* return_length) const;
    std::uint32_t set_group_masks(std::uint32_t information_class, const void* information,
                                  std::uint32_t length);

    // The handle a controller of the session of that name works with (another
    // program gets it from a query by name), or the invalid handle.
    TRACEHANDLE handle_of(std::u16string_view name) const;
    // The running session of that name, or null.
    std::shared_ptr<session_state> find(std::u16string_view name) const;
    // Every running session that takes the record.
    std::vector<std::shared_ptr<session_state>> takers(const EVENT_RECORD& record) const;
    // The same without gathering them: `visit(session)` for each.
    template <typename Visit> void for_each_taker(const EVENT_RECORD& record, Visit&& visit) const {
        for (const auto& [key, session] : sessions_)
            if (session->takes(record))
                visit(*session);
    }
    template <typename Visit> void for_each_session(Visit&& visit) const {
        for (const auto& [key, session] : sessions_)
            visit(*session);
    }

    // The session of a controller handle, or null.
    std::shared_ptr<session_state> find_by_handle(TRACEHANDLE controller) const;

  private:
    // The session a group-mask block names, or an NTSTATUS error.
    std::uint32_t group_mask_session(std::uint32_t information_class, const void* information,
                                     std::uint32_t length, std::shared_ptr<session_state>& session) const;

    bool admin_;
    bool windows8_or_later_;
    bool event_id_filters_; // Windows 8.1 and later
    std::uint32_t session_limit_;
    std::uint32_t processors_;
    TRACEHANDLE next_handle_ = 0x21;
    std::uint16_t next_logger_id_ = 2;
    std::map<std::u16string, std::shared_ptr<session_state>> sessions_; // by folded name
};

} // namespace tallowick::platform::simulated
