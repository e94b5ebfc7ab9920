#include "app/exclusion_tables.h"

#include <utility>

namespace tallowick::app {

// Entries stand exactly as matched: case, trailing dots and the one backslash included.
const std::array<std::string, 34> default_excluded_processes = {
    "ServiceHub.",
    "WerFault.exe",
    "explorer.exe",
    "Procmon64.exe",
    "RuntimeBroker.exe",
    "FoxitPDFReaderUpdateService.exe",
    "MsMpEng.exe",
    "smartscreen.exe",
    "Spotify.exe",
    "PowerToys.",
    "MBAMessageCenter.exe",
    "SearchProtocolHost.exe",
    "svchost.exe",
    "msiexec.exe",
    "gopls.exe",
    "SSPService.exe",
    "SophosUpdate.exe",
    "McsAgent.exe",
    "Tallowick.exe",
    "SearchIndexer.exe",
    "MfeAVSvc.exe",
    "activewin.exe",
    "tallowick.exe",
    "netstat.exe",
    "arp.exe",
    "conhost.exe",
    "sentinelagent.exe",
    "searchprotocolhost.exe",
    "searchfilterhost.exe",
    "velmar windows agent\\winagent.exe",
    "WUDFHost.exe",
    "PerfWatson",
    "Memory Compression",
    "standardcollector.service.exe",
};

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
