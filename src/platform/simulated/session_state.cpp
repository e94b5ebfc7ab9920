#include "platform/simulated/session_state.h"

#include "platform/windows_facts.h"
namespace tallowick::platform::simulated {
namespace {

bool passes_keywords(std::uint64_t keywords, const enabled_provider& enabled) {
    if (keywords == 0)
        return true; // an event without keywords is written whatever the masks
    if (enabled.match_any_keyword != 0 && (keywords & enabled.match_any_keyword) == 0)
        return false;
    return (keywords & enabled.match_all_keyword) == enabled.match_all_keyword;
}

} // namespace

bool session_state::generates(const EVENT_RECORD& record) const {
    if (stopped)
        return false;
    const EVENT_HEADER& header = record.EventHeader;
    if (same_guid(header.ProviderId, process_guid))
        return kernel_logger && (group_masks[0] & sdk::event_trace_flag_process) != 0;
    const auto found = providers.find(header.ProviderId);
    if (found == providers.end())
        return false;
    const enabled_provider& enabled = found->second;
    const EVENT_DESCRIPTOR& descriptor = header.EventDescriptor;
    // Enabled at level 0, a provider writes events of every level.
    const bool level_passes = enabled.level == 0 || descriptor.Level <= enabled.level;
    return level_passes && passes_keywords(descriptor.Keyword, enabled);
}

bool session_state::takes(const EVENT_RECORD& record) const {
    if (!generates(record))
        return false;
    const EVENT_HEADER& header = record.EventHeader;
    const auto found = providers.find(header.ProviderId);
    if (found == providers.end())
        return true; // a kernel process record
    const auto& event_ids = found->second.event_ids;
    return !event_ids || (event_ids->ids.count(header.EventDescriptor.Id) != 0) == event_ids->filter_in;
}

} // namespace tallowick::platform::simulated

namespace tallowick::platform::simulated {

kept_record::kept_record(const EVENT_RECORD& source) : record(source) {
    if (source.UserDataLength != 0 && source.UserData != nullptr) {
        const auto* bytes = static_cast<const std::byte*>(source.UserData);
        payload.assign(bytes, bytes + source.UserDataLength);
    }
}

const EVENT_RECORD& kept_record::view() {
    record.UserData = payload.empty() ? nullptr : payload.data();
    return record;
}

} // namespace tallowick::platform::simulated
