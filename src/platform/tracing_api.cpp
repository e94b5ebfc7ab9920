#include "platform/tracing_api.h"

#include <atomic>
#include <stdexcept>

namespace tallowick::platform {
namespace {
std::atomic<tracing_api*> installed_tracing{nullptr};
}

tracing_api& current_tracing() {
    tracing_api* api = installed_tracing.load(std::memory_order_acquire);
    if (api == nullptr)
        throw std::logic_error("no tracing realisation installed");
    return *api;
}

tracing_api* install_tracing(tracing_api* api) {
    return installed_tracing.exchange(api, std::memory_order_acq_rel);
}

} // namespace tallowick::platform
