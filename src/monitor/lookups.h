#pragma once

#include "platform/system_api.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallowick::monitor {

class volume_path_cache;

// Facts about processes and paths that event records do not carry. All results
// are UTF-8; ordinary failures of the platform give fixed fallback values
// instead of errors.

inline constexpr std::string_view access_denied_name = "ACCESS_DENIED";
inline constexpr std::string_view unknown_owner = "UNKNOWN";

// Enables SeDebugPrivilege where the process's token holds it, so that the
// lookups may open other accounts' processes; silently nothing where it does
// not. Once, before the first lookup. The lookups ask only for
// PROCESS_QUERY_LIMITED_INFORMATION, which protected processes grant too.
void enable_process_lookup_rights();

// The process's image path in drive form; "ACCESS_DENIED" when opening it is
// refused; "" when it cannot be opened for another reason (after a "PROC ID
// FALLBACK ERROR: <code>" line) or its image name cannot be read.
std::string get_process_image_path(std::uint32_t process_id);

// The same look-up without the console line: the image path, "ACCESS_DENIED"
// or "", and the error of an open that failed for another reason (else 0).
struct process_image_query {
    std::string image;
    std::uint32_t open_error = 0;
};
process_image_query query_process_image(std::uint32_t process_id);

// The creation time of the process (a FILETIME), when it can be opened.
std::optional<std::int64_t> get_process_creation_time(std::uint32_t process_id);

// The SID (S-1-... text) of the process's user, or "" when its token cannot be read.
std::string get_process_owner_sid(std::uint32_t process_id);

// Account names by SID, for every look-up below: at most this many, forgotten
// all at once when full; failed look-ups are not kept (a domain controller
// may answer later).
inline constexpr std::size_t account_cache_entries = 4096;

// The account name of the process's user, or "UNKNOWN".
std::string get_process_owner(std::uint32_t process_id);

// The account name (without domain) of the token's user, or "UNKNOWN".
std::string get_token_user_name(platform::native_handle token);

// The account name (without domain) of the SID written as `sid_text` (S-1-...),
// or "UNKNOWN" when the text is no SID or the account cannot be found.
std::string get_account_name(const std::string& sid_text);

// The path with the \Device\HarddiskVolumeN\ prefix it starts with replaced by
// the drive letter of that volume, from the drive map in `cache` (by default the
// process-wide one). Unchanged when there is no such prefix or no drive letter
// stands for that volume.
std::string device_path_to_drive_path(const std::string& path);
std::string device_path_to_drive_path(const std::string& path, volume_path_cache& cache);

// "DIR", "FILE" or "N/A" (anything else, including no such path).
std::string get_path_type(const std::string& path);

} // namespace tallowick::monitor
