#include "trace/group_mask.h"

namespace etw {

bool any_group_mask(const kernel_provider_list& providers) {
    for (const kernel::kernel_provider& registered : providers)
        if (registered.group_mask != 0)
            return true;
    return false;
}

void add_group_masks(group_mask_information& information, const kernel_provider_list& providers) {
    for (const kernel::kernel_provider& registered : providers) {
        const std::uint32_t mask = registered.group_mask;
        information.masks[mask >> 29] |= mask & 0x1FFFFFFFu;
    }
}

} // namespace etw
