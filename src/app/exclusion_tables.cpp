#include "app/exclusion_tables.h"

#include <utility>

namespace tallowick::app {

namespace {
using monitor::program_home;
using monitor::program_match;
constexpr program_match prefix = program_match::name_prefix;
constexpr program_match path_ending = program_match::path_ending;
constexpr program_match file_name = program_match::file_name;
constexpr program_home anywhere = program_home::anywhere;
// Programs of Windows itself, excluded only in the Windows folders.
constexpr program_home windows = program_home::windows_folders;
} // namespace

// Entries stand exactly as matched: case, trailing dots and the one backslash included.
const std::array<monitor::excluded_program, 34> default_excluded_processes = {{
    {"ServiceHub.", prefix, anywhere},
    {"WerFault.exe", file_name, windows},
    {"explorer.exe", file_name, windows},
    {"Procmon64.exe", file_name, anywhere},
    {"RuntimeBroker.exe", file_name, windows},
    {"FoxitPDFReaderUpdateService.exe", file_name, anywhere},
    {"MsMpEng.exe", file_name, anywhere}, // Windows' antivirus lives outside the Windows folders
    {"smartscreen.exe", file_name, windows},
    {"Spotify.exe", file_name, anywhere},
    {"PowerToys.", prefix, anywhere},
    {"MBAMessageCenter.exe", file_name, anywhere},
    {"SearchProtocolHost.exe", file_name, windows},
    {"svchost.exe", file_name, windows},
    {"msiexec.exe", file_name, windows},
    {"gopls.exe", file_name, anywhere},
    {"SSPService.exe", file_name, anywhere},
    {"SophosUpdate.exe", file_name, anywhere},
    {"McsAgent.exe", file_name, anywhere},
    {"Tallowick.exe", file_name, anywhere},
    {"SearchIndexer.exe", file_name, windows},
    {"MfeAVSvc.exe", file_name, anywhere},
    {"activewin.exe", file_name, anywhere},
    {"tallowick.exe", file_name, anywhere},
    {"netstat.exe", file_name, windows},
    {"arp.exe", file_name, windows},
    {"conhost.exe", file_name, windows},
    {"sentinelagent.exe", file_name, anywhere},
    {"searchprotocolhost.exe", file_name, windows},
    {"searchfilterhost.exe", file_name, windows},
    {"velmar windows agent\\winagent.exe", path_ending, anywhere},
    {"WUDFHost.exe", file_name, windows},
    {"PerfWatson", prefix, anywhere},
    // A process of the kernel's own with no image file: only its bare name can name it.
    {"Memory Compression", file_name, windows},
    {"standardcollector.service.exe", file_name, anywhere},
}};

const std::array<std::string, 2> excluded_agent_images = {
    "velmar windows agent\\winagent.exe",
    "windowsazureguestagent.exe",
};

const std::array<std::string, 17> document_extensions = {
    ".zip", ".doc", ".xls", ".ppt", ".docx", ".xlsx", ".pptx", ".txt", ".pdf",
    ".tar", ".7z",  ".rar", ".gz",  ".odt",  ".ods",  ".odp",  ".csv",
};

monitor::event_scope agent_scope(std::vector<std::string> monitored_paths,
                                 std::vector<std::string> excluded_processes) {
    return {std::move(monitored_paths), std::move(excluded_processes), default_excluded_processes,
            excluded_agent_images, document_extensions};
}

} // namespace tallowick::app
