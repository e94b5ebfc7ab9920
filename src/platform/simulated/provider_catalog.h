#pragma once

#include "platform/simulated/scenario.h"
#include "platform/tracing_api.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tallowick::platform::simulated {

// The machine's trace data provider collection behind COM: apartments joined per
// thread, a collection object that lists the registered providers once asked to,
// and provider objects, handed out as opaque pointers that the caller releases.
// Answers with COM's HRESULTs, including for calls out of order. Thread-safe.
class provider_catalog {
  public:
    explicit provider_catalog(const std::vector<registered_provider>& providers);

    hresult co_initialize_ex(void* reserved, std::uint32_t co_init);
    void co_uninitialize();
    hresult co_create_instance(const GUID& clsid, void* outer, std::uint32_t class_context, const GUID& iid,
                               void** object);
    hresult get_trace_data_providers(void* collection, const char16_t* server);
    hresult get_count(void* collection, std::int32_t* count);
    hresult get_item(void* collection, std::uint32_t index, void** provider);
    hresult get_display_name(void* provider, std::optional<std::u16string>& display_name);
    hresult get_guid(void* provider, GUID* guid);
    std::uint32_t release(void* object);

    // Objects handed out and not yet released.
    std::size_t live_objects() const;

  private:
    struct entry {
        std::u16string display_name;
        GUID guid{};
    };
    struct com_object {
        bool is_collection = false;
        bool filled = false;   // a collection after GetTraceDataProviders
        std::size_t index = 0; // a provider: its place in the collection
    };
    struct apartment {
        bool multithreaded = true;
        std::uint32_t initialisations = 0;
    };

    const com_object* find(const void* object, bool collection) const; // mutex held
    void* hand_out(com_object object);                                 // mutex held

    std::vector<entry> entries_;
    mutable std::mutex mutex_;
    std::map<std::thread::id, apartment> apartments_;
    std::unordered_map<const void*, std::unique_ptr<com_object>> objects_;
};

} // namespace tallowick::platform::simulated
