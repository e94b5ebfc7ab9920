#include "platform/simulated/machine_inventory.h"

namespace tallowick::platform::simulated {

std::vector<account_entry> machine_inventory::default_accounts() {
    return {
        {"S-1-5-18", "SYSTEM", "NT AUTHORITY"},
        {"S-1-5-19", "LOCAL SERVICE", "NT AUTHORITY"},
        {"S-1-5-20", "NETWORK SERVICE", "NT AUTHORITY"},
    };
}

std::vector<volume_entry> machine_inventory::default_volumes() {
    return {{"\\Device\\HarddiskVolume3\\", "C:\\"}};
}

} // namespace tallowick::platform::simulated
