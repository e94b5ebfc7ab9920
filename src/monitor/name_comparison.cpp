#include "monitor/name_comparison.h"

#include <algorithm>

namespace tallowick::monitor {
namespace {
constexpr char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr bool same_letter(char left, char right) {
    return upper(left) == upper(right);
}
} // namespace

bool equals_ignoring_case(std::string_view left, std::string_view right) {
    return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(), same_letter);
}

bool contains_ignoring_case(std::string_view text, std::string_view part) {
    return part.empty() ||
           std::search(text.begin(), text.end(), part.begin(), part.end(), same_letter) != text.end();
}

bool ends_with_ignoring_case(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() &&
           equals_ignoring_case(text.substr(text.size() - ending.size()), ending);
}

namespace {
// Called with `text` ending with `ending`; an ending that begins with a '\' is a name's start itself.
bool starts_a_name(std::string_view text, std::string_view ending) {
    return text.size() == ending.size() || ending.starts_with('\\') ||
           text[text.size() - ending.size() - 1] == '\\';
}
} // namespace

bool ends_at_name_boundary(std::string_view text, std::string_view ending) {
    return text.ends_with(ending) && starts_a_name(text, ending);
}

bool ends_at_name_boundary_ignoring_case(std::string_view text, std::string_view ending) {
    return ends_with_ignoring_case(text, ending) && starts_a_name(text, ending);
}

bool is_user_excluded(std::string_view process_name, const std::vector<std::string>& excluded_processes) {
    return std::any_of(excluded_processes.begin(), excluded_processes.end(),
                       [process_name](const std::string& entry) {
                           return ends_at_name_boundary_ignoring_case(process_name, entry);
                       });
}

} // namespace tallowick::monitor
