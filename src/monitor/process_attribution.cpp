#include "monitor/process_attribution.h"

#include "console/console.h"
#include "monitor/lookups.h"

#include <utility>

namespace tallowick::monitor {
namespace {

event_origin decided(const process_tracker& tracker, record_time when,
                     std::shared_ptr<const process_facts> facts) {
    return {when, std::move(facts), &tracker, true};
}

// A live look-up that names the process running under the id now, only when
// it was created by `when` (else it came after the record and is not its
// author). Unnamed, the origin keeps the error of an open that failed.
event_origin live_if_created_by(process_tracker& tracker, std::uint32_t pid, record_time when) {
    process_image_query image = query_process_image(pid);
    event_origin origin{when, nullptr, &tracker, false, image.open_error};
    if (image.image == access_denied_name) {
        // Refused to the agent: named so, as ever, though not kept.
        origin.facts = std::make_shared<const process_facts>(
            process_facts{std::string(access_denied_name), std::string(unknown_owner)});
        return origin;
    }
    if (image.image.empty())
        return origin;
    const std::optional<std::int64_t> created = get_process_creation_time(pid);
    if (created && *created <= when)
        origin.facts =
            tracker.seen(pid, when, {std::move(image.image), "", get_process_owner_sid(pid)}, created);
    return origin;
}

} // namespace

std::optional<event_origin> attribute_now(const process_tracker& tracker, std::uint32_t pid,
                                          record_time when) {
    process_tracker::lookup known = tracker.find(pid, when);
    const bool delivered_past = when <= tracker.progress();
    if (known.answer == process_tracker::verdict::covered && (known.ended || delivered_past))
        return decided(tracker, when, std::move(known.facts));
    // Before or between lives, once the kernel session has delivered past the
    // time: its records come in order, no later one fills that gap. (Before,
    // a start may still come for a gap before a life a look-up learnt.)
    if (known.answer == process_tracker::verdict::not_this && delivered_past)
        return decided(tracker, when, nullptr);
    return std::nullopt;
}

std::optional<event_origin> attribute_waiting(process_tracker& tracker, std::uint32_t pid, record_time when,
                                              bool bound_passed,
                                              const std::optional<std::int64_t>* created_now) {
    if (auto now = attribute_now(tracker, pid, when))
        return now;
    process_tracker::lookup known = tracker.find(pid, when);
    const bool delivered_past = when <= tracker.progress();
    if (known.answer == process_tracker::verdict::not_this) {
        if (bound_passed)
            return decided(tracker, when, nullptr);
        return std::nullopt;
    }
    if (known.answer == process_tracker::verdict::covered) {
        // An open life that began by the time: the process alive now under the
        // id and created by then is the author; otherwise its end may be on its way.
        if (bound_passed) {
            return decided(tracker, when, std::move(known.facts));
        }
        const std::optional<std::int64_t> created =
            created_now != nullptr ? *created_now : get_process_creation_time(pid);
        if (!created || *created > when)
            return std::nullopt;
        // A start is logged after its process's creation: a life that began
        // before the live process was created is an older one's.
        if (known.start >= *created)
            return decided(tracker, when, std::move(known.facts));
        process_image_query image = query_process_image(pid);
        if (image.image.empty())
            return std::nullopt;
        return decided(tracker, when,
                       std::make_shared<const process_facts>(
                           process_facts{std::move(image.image), "", get_process_owner_sid(pid)}));
    }
    // Nothing known of the time: a process older than the agent the rundown
    // did not name, or one whose start is still on its way.
    event_origin live = live_if_created_by(tracker, pid, when);
    if (!live.facts && !delivered_past && !bound_passed)
        return std::nullopt;
    live.decided = true;
    return live;
}

event_origin attribute_file_record(process_tracker& tracker, std::uint32_t pid, record_time when) {
    process_tracker::lookup known = tracker.find(pid, when);
    if (known.answer == process_tracker::verdict::not_known) {
        event_origin live = live_if_created_by(tracker, pid, when);
        if (live.facts)
            live.decided = true;
        return live;
    }
    return {when, std::move(known.facts), &tracker};
}

process_facts learn_process_facts(std::uint32_t pid, record_time when, const std::string& image_file_name,
                                  const std::string& user_sid) {
    // The owner's SID only: its account is looked up by the workers.
    process_facts facts{std::string(), std::string(), std::string()};
    process_image_query image = query_process_image(pid);
    const std::optional<std::int64_t> created = get_process_creation_time(pid);
    // A process refused to the agent cannot tell its creation: named as ever.
    if (image.image == access_denied_name || (created && *created <= when))
        facts = {std::move(image.image), std::string(), get_process_owner_sid(pid)};
    if (facts.image.empty())
        facts.image = image_file_name;
    if (facts.owner_sid.empty())
        facts.owner_sid = user_sid;
    if (facts.owner_sid.empty())
        facts.owner = std::string(unknown_owner);
    return facts;
}

process_identity identify_process(std::uint32_t pid, const event_origin& origin) {
    std::shared_ptr<const process_facts> facts = origin.facts;
    if (!facts && origin.decided) {
        if (origin.lookup_error != 0)
            console::write_line("PROC ID FALLBACK ERROR: " + std::to_string(origin.lookup_error));
        return {std::string(unknown_process_name), false, std::string(unknown_owner)};
    }
    if (!facts && origin.tracker != nullptr) {
        process_tracker::lookup known = origin.tracker->find(pid, origin.time);
        if (known.answer == process_tracker::verdict::not_this)
            return {std::string(unknown_process_name), false, std::string(unknown_owner)};
        facts = std::move(known.facts);
    }
    if (facts) {
        if (facts->image.empty())
            return {std::string(unknown_process_name), false, owner_name(*facts)};
        return {facts->image, true, owner_name(*facts)};
    }
    std::string image = get_process_image_path(pid);
    if (image.empty())
        return {std::string(unknown_process_name), false, std::nullopt};
    return {std::move(image), true, std::nullopt};
}

std::string owner_name(const process_facts& facts) {
    if (!facts.owner.empty())
        return facts.owner;
    return facts.owner_sid.empty() ? std::string(unknown_owner) : get_account_name(facts.owner_sid);
}

std::string owner_of(std::uint32_t pid, const process_identity& identity) {
    return identity.owner ? *identity.owner : get_process_owner(pid);
}

} // namespace tallowick::monitor
