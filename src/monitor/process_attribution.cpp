#include "monitor/process_attribution.h"

#include "monitor/lookups.h"

#include <utility>

namespace tallowick::monitor {

event_origin attribute_file_record(process_tracker& tracker, std::uint32_t pid, record_time when) {
    process_tracker::lookup known = tracker.find(pid, when);
    if (known.answer == process_tracker::verdict::not_known) {
        process_image_query image = query_process_image(pid);
        if (!image.image.empty())
            known.facts = tracker.seen(pid, when, {std::move(image.image), get_process_owner(pid)});
    }
    return {when, std::move(known.facts), &tracker};
}

process_facts learn_process_facts(std::uint32_t pid, const std::string& image_file_name,
                                  const std::string& user_sid) {
    process_facts facts{query_process_image(pid).image, get_process_owner(pid)};
    if (facts.image.empty())
        facts.image = image_file_name;
    if (facts.owner == unknown_owner && !user_sid.empty())
        facts.owner = get_account_name(user_sid);
    return facts;
}

process_identity identify_process(std::uint32_t pid, const event_origin& origin) {
    std::shared_ptr<const process_facts> facts = origin.facts;
    if (!facts && origin.tracker != nullptr) {
        process_tracker::lookup known = origin.tracker->find(pid, origin.time);
        if (known.answer == process_tracker::verdict::not_this)
            return {std::string(unknown_process_name), false, std::string(unknown_owner)};
        facts = std::move(known.facts);
    }
    if (facts) {
        if (facts->image.empty())
            return {std::string(unknown_process_name), false, facts->owner};
        return {facts->image, true, facts->owner};
    }
    std::string image = get_process_image_path(pid);
    if (image.empty())
        return {std::string(unknown_process_name), false, std::nullopt};
    return {std::move(image), true, std::nullopt};
}

std::string owner_of(std::uint32_t pid, const process_identity& identity) {
    return identity.owner ? *identity.owner : get_process_owner(pid);
}

} // namespace tallowick::monitor
