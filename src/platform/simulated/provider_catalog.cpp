#include "platform/simulated/provider_catalog.h"

#include "platform/guid.h"
#include "platform/utf_codec.h"
#include "platform/windows_facts.h"

namespace tallowick::platform::simulated {
namespace {

constexpr hresult e_nointerface = static_cast<hresult>(0x80004002);
constexpr hresult class_e_noaggregation = static_cast<hresult>(0x80040110);
constexpr hresult regdb_e_classnotreg = static_cast<hresult>(0x80040154);
constexpr hresult co_e_notinitialized = static_cast<hresult>(0x800401F0);
constexpr hresult rpc_e_changed_mode = static_cast<hresult>(0x80010106);
constexpr hresult bad_netpath = static_cast<hresult>(0x80070035); // HRESULT_FROM_WIN32(ERROR_BAD_NETPATH)

} // namespace

provider_catalog::provider_catalog(const std::vector<registered_provider>& providers) {
    for (const registered_provider& provider : providers)
        entries_.push_back({utf8_to_utf16(provider.name), provider.guid});
}

hresult provider_catalog::co_initialize_ex(void* reserved, std::uint32_t co_init) {
    if (reserved != nullptr)
        return e_invalidarg;
    const bool multithreaded = (co_init & coinit_apartmentthreaded) == 0;
    const std::lock_guard lock(mutex_);
    apartment& joined = apartments_[std::this_thread::get_id()];
    if (joined.initialisations == 0) {
        joined = {multithreaded, 1};
        return s_ok;
    }
    if (joined.multithreaded != multithreaded)
        return rpc_e_changed_mode;
    ++joined.initialisations;
    return s_false;
}

void provider_catalog::co_uninitialize() {
    const std::lock_guard lock(mutex_);
    const auto joined = apartments_.find(std::this_thread::get_id());
    if (joined != apartments_.end() && --joined->second.initialisations == 0)
        apartments_.erase(joined);
}

hresult provider_catalog::co_create_instance(const GUID& clsid, void* outer, std::uint32_t /*class_context*/,
                                             const GUID& iid, void** object) {
    if (object == nullptr)
        return e_pointer;
    *object = nullptr;
    const std::lock_guard lock(mutex_);
    if (apartments_.count(std::this_thread::get_id()) == 0)
        return co_e_notinitialized;
    if (!same_guid(clsid, clsid_trace_data_provider_collection))
        return regdb_e_classnotreg;
    if (outer != nullptr)
        return class_e_noaggregation;
    if (!same_guid(iid, iid_trace_data_provider_collection))
        return e_nointerface;
    *object = hand_out({true, false, 0});
    return s_ok;
}

hresult provider_catalog::get_trace_data_providers(void* collection, const char16_t* server) {
    const std::lock_guard lock(mutex_);
    const com_object* found = find(collection, true);
    if (found == nullptr)
        return e_pointer;
    if (server != nullptr && *server != u'\0')
        return bad_netpath; // only the local machine exists
    objects_.at(collection)->filled = true;
    return s_ok;
}

hresult provider_catalog::get_count(void* collection, std::int32_t* count) {
    const std::lock_guard lock(mutex_);
    const com_object* found = find(collection, true);
    if (found == nullptr || count == nullptr)
        return e_pointer;
    *count = found->filled ? static_cast<std::int32_t>(entries_.size()) : 0;
    return s_ok;
}

hresult provider_catalog::get_item(void* collection, std::uint32_t index, void** provider) {
    const std::lock_guard lock(mutex_);
    const com_object* found = find(collection, true);
    if (found == nullptr || provider == nullptr)
        return e_pointer;
    *provider = nullptr;
    if (!found->filled || index >= entries_.size())
        return e_invalidarg;
    *provider = hand_out({false, false, index});
    return s_ok;
}

hresult provider_catalog::get_display_name(void* provider, std::optional<std::u16string>& display_name) {
    const std::lock_guard lock(mutex_);
    const com_object* found = find(provider, false);
    if (found == nullptr)
        return e_pointer;
    display_name = entries_[found->index].display_name;
    return s_ok;
}

hresult provider_catalog::get_guid(void* provider, GUID* guid) {
    const std::lock_guard lock(mutex_);
    const com_object* found = find(provider, false);
    if (found == nullptr || guid == nullptr)
        return e_pointer;
    *guid = entries_[found->index].guid;
    return s_ok;
}

std::uint32_t provider_catalog::release(void* object) {
    const std::lock_guard lock(mutex_);
    objects_.erase(object); // one reference per object: the caller's
    return 0;
}

std::size_t provider_catalog::live_objects() const {
    const std::lock_guard lock(mutex_);
    return objects_.size();
}

const provider_catalog::com_object* provider_catalog::find(const void* object, bool collection) const {
    const auto found = objects_.find(object);
    if (found == objects_.end() || found->second->is_collection != collection)
        return nullptr;
    return found->second.get();
}

void* provider_catalog::hand_out(com_object object) {
    auto owned = std::make_unique<com_object>(object);
    void* address = owned.get();
    objects_.emplace(address, std::move(owned));
    return address;
}

} // namespace tallowick::platform::simulated
