#include "trace/group_mask.h"

namespace etw {

bool add_group_masks(group_mask_information& information, const kernel_provider_list& providers) {
    bool any = false;
    for (const kernel::kernel_provider& registered : providers) {
        const std::uint32_t mask = registered.group_mask;
        information.masks[mask >> 29] |= mask & 0x1FFFFFFFu;
        any = any || mask != 0;
    }
    return any;
}

} // namespace etw
