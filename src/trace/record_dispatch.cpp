#include "trace/record_dispatch.h"

#include "decoding/current_record.h"
#include "decoding/schema_cache.h"
#include "platform/guid.h"

#include <cstddef>
#include <cstring>

namespace etw {
using tallowick::platform::same_guid;

namespace {

template <typename List, typename Key>
bool dispatch_to_first(const EVENT_RECORD& record, const List& providers, const trace_context& context,
                       const GUID& guid, Key key) {
    for (const auto& registered : providers) {
        if (same_guid(key(registered.get()), guid)) {
            registered.get().dispatch(record, context);
            return true;
        }
    }
    return false;
}

const GUID& manifest_key(const manifest_provider& registered) {
    return registered.guid;
}
const GUID& kernel_key(const kernel::kernel_provider& registered) {
    return registered.provider_guid;
}

} // namespace

bool dispatch_user_record(const EVENT_RECORD& record, const manifest_provider_list& providers,
                          const trace_context& context) {
    context.current().begin();
    if (dispatch_to_first(record, providers, context, record.EventHeader.ProviderId, manifest_key))
        return true;
    const event_info_buffer info = fetch_event_info(record);
    GUID schema_provider{};
    std::memcpy(&schema_provider, info.get() + offsetof(TRACE_EVENT_INFO, ProviderGuid),
                sizeof schema_provider);
    return dispatch_to_first(record, providers, context, schema_provider, manifest_key);
}

bool dispatch_kernel_record(const EVENT_RECORD& record, const kernel_provider_list& providers,
                            const trace_context& context) {
    context.current().begin();
    return dispatch_to_first(record, providers, context, record.EventHeader.ProviderId, kernel_key);
}

} // namespace etw
