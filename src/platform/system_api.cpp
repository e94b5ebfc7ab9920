#include "platform/system_api.h"

#include <atomic>
#include <stdexcept>

namespace tallowick::platform {
namespace {
std::atomic<system_api*> installed_system{nullptr};
}

system_api& current_system() {
    system_api* api = installed_system.load(std::memory_order_acquire);
    if (api == nullptr)
        throw std::logic_error("no system realisation installed");
    return *api;
}

system_api* install_system(system_api* api) {
    return installed_system.exchange(api, std::memory_order_acq_rel);
}

} // namespace tallowick::platform
