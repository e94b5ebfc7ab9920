#include "monitor/file_event_handler.h"

#include "console/console.h"
#include "monitor/lookups.h"
#include "monitor/messages.h"
#include "monitor/name_comparison.h"
#include "platform/system_api.h"
#include "platform/windows_facts.h"

#include <algorithm>
#include <initializer_list>
#include <optional>

namespace tallowick::monitor {
namespace {
constexpr std::string_view explorer = "explorer.exe";

// A document by its extension, in any case: "SCAN001.PDF" is one.
bool is_document(const event_scope& scope, std::string_view name) {
    return std::any_of(
        scope.document_extensions.begin(), scope.document_extensions.end(),
        [name](const std::string& extension) { return ends_with_ignoring_case(name, extension); });
}

// The share access value taken whole: 7 (all three sharing bits) reads like 3,
// and any bit above the third drops the event.
std::optional<std::string_view> share_access_label(unsigned int share_access) {
    switch (share_access) {
    case 1:
        return "READ";
    case 2:
        return "WRITE";
    case 3:
    case 7:
        return "READ + WRITE";
    case 4:
        return "DELETE";
    case 5:
        return "DELETE + READ";
    case 6:
        return "DELETE + WRITE";
    default:
        return std::nullopt;
    }
}

std::string_view path_event_label(int event_id) {
    switch (event_id) {
    case platform::file_delete_path_event:
        return "DELETE";
    case platform::file_rename_path_event:
        return "RENAME";
    default:
        return "CREATED";
    }
}

// With paths given, a name is in scope when it holds one of them; without,
// when it ends with a document extension. Tested on the device form, in any
// case: Windows names are case-insensitive, and the kernel reports a name in
// whatever case the opening program used.
bool in_scope(std::string_view name, const event_scope& scope) {
    if (scope.monitored_paths.empty())
        return is_document(scope, name);
    return std::any_of(scope.monitored_paths.begin(), scope.monitored_paths.end(),
                       [name](const std::string& path) { return contains_ignoring_case(name, path); });
}

// The built-in table for path events: every entry but the file explorer.
bool is_default_excluded_path_event(const event_scope& scope, std::string_view process_name) {
    return std::any_of(scope.default_excluded_processes.begin(), scope.default_excluded_processes.end(),
                       [process_name](const excluded_program& entry) {
                           return entry.name != explorer && names_program(entry, process_name);
                       });
}

// One console line: the pieces joined by single blanks.
std::string join_line(std::initializer_list<std::string_view> pieces) {
    std::string line;
    std::size_t size = pieces.size();
    for (const std::string_view piece : pieces)
        size += piece.size();
    line.reserve(size);
    bool first = true;
    for (const std::string_view piece : pieces) {
        if (!first)
            line += ' ';
        line += piece;
        first = false;
    }
    return line;
}
} // namespace

bool is_default_excluded(const event_scope& scope, std::string_view process_name, std::string_view label) {
    for (const excluded_program& entry : scope.default_excluded_processes) {
        if (!names_program(entry, process_name))
            continue;
        const bool spared_explorer = label == "DELETE" && entry.name.ends_with(explorer);
        return !spared_explorer;
    }
    return false;
}

void handle_file_access_event(int event_id, unsigned int process_id, const std::string& file_name,
                              unsigned int share_access, const event_scope& scope, message_sink& sink,
                              const event_origin& origin) {
    if (!in_scope(file_name, scope))
        return;
    const auto label = share_access_label(share_access);
    if (!label)
        return;
    const std::string filename = device_path_to_drive_path(file_name);
    const process_identity process = identify_process(process_id, origin);
    const std::string& process_name = process.image;
    if (process.named && (is_default_excluded(scope, process_name, *label) ||
                          is_user_excluded(process_name, scope.excluded_processes)))
        return;
    const std::string owner = owner_of(process_id, process);
    const std::string path_type = get_path_type(filename);
    if (path_type == "DIR")
        return;
    const std::string pid = std::to_string(process_id);
    console::write_line(join_line({*label, filename, path_type, process_name, pid, owner}));
    rapidjson::Document message =
        file_system_message(event_id, process_id, {*label, filename, path_type, process_name, owner});
    sink.send(message, message_kind::file_system, origin.time);
}

void handle_file_path_event(int event_id, unsigned int process_id, const std::u16string& file_name,
                            const event_scope& scope, message_sink& sink, const event_origin& origin) {
    rapidjson::Document message = begin_file_system_message(event_id, process_id);
    const std::string_view label = path_event_label(event_id);
    if (file_name == u"UNKNOWN")
        return;
    const std::string name = platform::current_system().utf16_to_utf8(file_name);
    // Without monitored paths only renames of documents are reported.
    if (scope.monitored_paths.empty() && label != "RENAME")
        return;
    if (!in_scope(name, scope))
        return;
    const std::string filename = device_path_to_drive_path(name);
    const process_identity process = identify_process(process_id, origin);
    const std::string& process_name = process.image;
    const std::string owner = owner_of(process_id, process);
    console::write_line(join_line({label, filename, process_name}));
    if (process.named && (is_default_excluded_path_event(scope, process_name) ||
                          is_user_excluded(process_name, scope.excluded_processes)))
        return;
    std::optional<std::string> path_type;
    if (label != "DELETE")
        path_type = get_path_type(filename);
    complete_file_system_message(message, {label, filename, path_type, process_name, owner});
    sink.send(message, message_kind::file_system, origin.time);
    console::write_line("DEBUG FILE " + join_line({label, filename, process_name, owner}));
}

} // namespace tallowick::monitor
