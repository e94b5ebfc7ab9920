#include "trace/provider_lookup.h"

#include "platform/guid.h"
#include "platform/system_api.h"
#include "platform/tracing_api.h"
#include "platform/windows_facts.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace etw {
using tallowick::platform::clsid_trace_data_provider_collection;
using tallowick::platform::iid_trace_data_provider_collection;
using tallowick::platform::is_null_guid;

namespace {

using tallowick::platform::hresult;
using tallowick::platform::tracing_api;

using tallowick::platform::clsctx_server;
using tallowick::platform::coinit_multithreaded;

// The HRESULT as lower-case hex digits without leading zeros.
std::string hex(hresult value) {
    char digits[8];
    const auto result = std::to_chars(digits, digits + sizeof digits, static_cast<std::uint32_t>(value), 16);
    return std::string(digits, result.ptr);
}

void check_com_creation(hresult status) {
    if (status < 0)
        throw std::runtime_error("Error in creating instance of trace providers, hr = 0x" + hex(status));
}

void check_com_lookup(hresult status, const std::string& name) {
    if (status < 0)
        throw std::runtime_error("Error in constructing guid from provider name (" + name + "), hr = 0x" +
                                 hex(status));
}

// Joins the thread to the multithreaded apartment for the lookup and leaves it
// again on every way out.
class com_apartment {
  public:
    explicit com_apartment(tracing_api& tracing) : tracing_(tracing) {
        check_com_creation(tracing_.co_initialize_ex(nullptr, coinit_multithreaded));
    }
    ~com_apartment() { tracing_.co_uninitialize(); }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;

  private:
    tracing_api& tracing_;
};

// One reference to a COM object, released when it goes.
class com_reference {
  public:
    explicit com_reference(tracing_api& tracing) : tracing_(tracing) {}
    ~com_reference() {
        if (object_ != nullptr)
            tracing_.release(object_);
    }
    com_reference(const com_reference&) = delete;
    com_reference& operator=(const com_reference&) = delete;

    void* get() const { return object_; }
    void** out() { return &object_; }

  private:
    tracing_api& tracing_;
    void* object_ = nullptr;
};

} // namespace

GUID find_provider_guid(std::u16string_view name) {
    tracing_api& tracing = tallowick::platform::current_tracing();
    const com_apartment apartment(tracing);
    com_reference collection(tracing);
    check_com_creation(tracing.co_create_instance(clsid_trace_data_provider_collection, nullptr,
                                                  clsctx_server, iid_trace_data_provider_collection,
                                                  collection.out()));

    // The name as messages show it; only built once a message needs it.
    std::optional<std::string> utf8_name;
    const auto message_name = [&]() -> const std::string& {
        if (!utf8_name)
            utf8_name = tallowick::platform::current_system().utf16_to_utf8(name);
        return *utf8_name;
    };
    const auto check_lookup = [&](hresult status) {
        if (status < 0)
            check_com_lookup(status, message_name());
    };

    check_lookup(tracing.get_trace_data_providers(collection.get(), nullptr));
    std::int32_t count = 0;
    hresult last = tracing.get_count(collection.get(), &count);
    check_lookup(last);

    GUID found{};
    for (std::uint32_t index = 0; index < static_cast<std::uint32_t>(count); ++index) {
        com_reference item(tracing);
        check_lookup(tracing.get_item(collection.get(), index, item.out()));
        std::optional<std::u16string> display;
        last = tracing.get_display_name(item.get(), display);
        check_lookup(last);
        if (display.value_or(std::u16string()) == name) {
            last = tracing.get_guid(item.get(), &found);
            check_lookup(last);
            break;
        }
    }
    if (is_null_guid(found))
        throw std::runtime_error("Provider name does not exist. (" + message_name() + "), hr = 0x" +
                                 hex(last));
    return found;
}

} // namespace etw
