#pragma once

#include "monitor/process_tracker.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tallowick::monitor {

// Process ids 0 to 9 belong to the idle process and the system itself: their
// records are not the users' activity.
inline constexpr std::uint32_t first_user_process_id = 10;

// Who made a file event, as far as the process tracker could tell; handed with
// the event to its task.
struct event_origin {
    record_time time = 0;                       // the record's time stamp
    std::shared_ptr<const process_facts> facts; // the life covering `time`, if known then
    const process_tracker* tracker = nullptr;   // asked again by the task; none: live look-ups only
    bool decided = false;                       // final: without facts the process is UNKNOWN
    std::uint32_t lookup_error = 0;             // a live look-up's failed open, for the task's console line
};

// On the file session's thread, without a platform call: the origin when the
// tracker can tell for certain now (a life that ended after the time covers
// it, or the kernel session has delivered past the time), else nothing: the
// record waits for the kernel session (see pending_attribution).
std::optional<event_origin> attribute_now(const process_tracker& tracker, std::uint32_t pid,
                                          record_time when);

// Off the session threads, for a record that waits: the origin once it can be
// told, else nothing. Past the kernel session's progress, the tracker's
// answer; before it, a process alive now and created by the time is the
// author; once `bound_passed`, the best the tracker knows: a life that began
// by the time (never one that began after it), else a live look-up bounded by
// the process's creation time, else UNKNOWN. `created_now`: the creation time
// of the process under the id, read after the record came (none: read here).
std::optional<event_origin> attribute_waiting(process_tracker& tracker, std::uint32_t pid, record_time when,
                                              bool bound_passed,
                                              const std::optional<std::int64_t>* created_now = nullptr);

// Without waiting (no kernel session to wait for): the tracker's life, else a
// live look-up bounded by the process's creation time.
event_origin attribute_file_record(process_tracker& tracker, std::uint32_t pid, record_time when);

// Learnt once, for a process record stamped `when`: the live image path and
// owner of the process under the id, when it was created by then (a later one
// took the id after the record's process ended), or else what the record says
// (its image file name, the account of its user SID).
process_facts learn_process_facts(std::uint32_t pid, record_time when, const std::string& image_file_name,
                                  const std::string& user_sid);

// The image and owner a file task reports for an event.
struct process_identity {
    std::string image;                // "UNKNOWN" when nothing names the process
    bool named = true;                // false for "UNKNOWN": no exclusion can match it
    std::optional<std::string> owner; // known along with the image
};

inline constexpr std::string_view unknown_process_name = "UNKNOWN";

// From the event's origin, else the tracker asked again (a start record may
// have come meanwhile on the other session), else, when the tracker knows
// nothing of that time and the origin is not final, the live look-up (which
// may print its "PROC ID FALLBACK ERROR: " line).
process_identity identify_process(std::uint32_t pid, const event_origin& origin);
// The facts' owner: its account name, looked up by its SID where not known yet.
std::string owner_name(const process_facts& facts);
// The owner known with the identity, else the live look-up.
std::string owner_of(std::uint32_t pid, const process_identity& identity);

} // namespace tallowick::monitor
