#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tallowick::monitor {

// Windows compares file and process names without regard to case: it upper-cases
// both sides, code unit by code unit. These comparisons do so for the ASCII
// letters of UTF-8 text; bytes of other characters are compared as they are, so
// a multi-byte character never matches part of another.
bool equals_ignoring_case(std::string_view left, std::string_view right);
bool contains_ignoring_case(std::string_view text, std::string_view part);
bool ends_with_ignoring_case(std::string_view text, std::string_view ending);

// Whether `text` ends with `ending` where a name begins: `ending` is all of
// `text` or follows a '\'. "C:\Tools\winword.exe" ends so with "winword.exe",
// "C:\Tools\evilwinword.exe" does not. Exactly, or with ASCII letters folded.
bool ends_at_name_boundary(std::string_view text, std::string_view ending);
bool ends_at_name_boundary_ignoring_case(std::string_view text, std::string_view ending);

// Whether the user's --excludeproc list removes a process: its image path (or
// image file name) ends with an entry at a name boundary, in any case. The one
// test for file opens, path events and process events alike.
bool is_user_excluded(std::string_view process_name, const std::vector<std::string>& excluded_processes);

} // namespace tallowick::monitor
