#include "app/exclusion_tables.h"
#include "monitor/file_event_handler.h"

#include <gtest/gtest.h>

namespace tallowick::app {
namespace {

TEST(ExclusionTables, CountsAndExactEntries) {
    ASSERT_EQ(default_excluded_processes.size(), 34u);
    EXPECT_EQ(default_excluded_processes.front().name, "ServiceHub.");
    EXPECT_EQ(default_excluded_processes[18].name, "Tallowick.exe");
    EXPECT_EQ(default_excluded_processes[22].name, "tallowick.exe");
    EXPECT_EQ(default_excluded_processes[29].name, "velmar windows agent\\winagent.exe");
    EXPECT_EQ(default_excluded_processes[29].name.size(), 33u);
    EXPECT_EQ(default_excluded_processes.back().name, "standardcollector.service.exe");

    ASSERT_EQ(excluded_agent_images.size(), 2u);
    EXPECT_EQ(excluded_agent_images[0], default_excluded_processes[29].name);
    EXPECT_EQ(excluded_agent_images[1], "windowsazureguestagent.exe");

    ASSERT_EQ(document_extensions.size(), 17u);
    EXPECT_EQ(document_extensions.front(), ".zip");
    EXPECT_EQ(document_extensions[10], ".7z");
    EXPECT_EQ(document_extensions.back(), ".csv");
    for (const std::string& extension : document_extensions)
        EXPECT_EQ(extension.front(), '.');
}

// The programs the table means stay excluded; their names borrowed elsewhere do not.
TEST(ExclusionTables, EachEntryNamesItsOwnProgramOnly) {
    struct program_case {
        const char* image;
        bool excluded;
    };
    const program_case cases[] = {
        {"C:\\Windows\\System32\\svchost.exe", true},
        {"C:\\WINDOWS\\system32\\conhost.exe", true},
        {"C:\\Windows\\SysWOW64\\msiexec.exe", true},
        {"C:\\Windows\\explorer.exe", true},
        {"C:\\Windows\\System32\\ARP.EXE", false}, // entries keep their case
        {"C:\\Windows\\System32\\arp.exe", true},
        {"C:\\Program Files\\Microsoft Visual "
         "Studio\\Common7\\ServiceHub\\Hosts\\ServiceHub.Host.CLR.x86.exe",
         true},
        {"C:\\Program Files\\PowerToys\\PowerToys.Settings.exe", true},
        {"C:\\Program Files (x86)\\Microsoft Visual Studio\\Common7\\IDE\\PerfWatson2.exe", true},
        {"C:\\ProgramData\\Microsoft\\Windows Defender\\Platform\\4.18\\MsMpEng.exe", true},
        {"c:\\program files\\velmar windows agent\\winagent.exe", true},
        {"C:\\Users\\bob\\Downloads\\svchost.exe", false},
        {"C:\\Users\\bob\\AppData\\Roaming\\conhost.exe", false},
        {"C:\\Tools\\sharp.exe", false},
        {"C:\\Windows\\System32\\sharp.exe", false},
        {"C:\\Tools\\PerfWatson\\dropper.exe", false},
        {"C:\\Users\\bob\\Memory Compression", false},
        {"Memory Compression", true},
        {"C:\\Tools\\xSpotify.exe", false},
    };
    const monitor::event_scope scope = agent_scope({}, {});
    for (const program_case& test : cases)
        EXPECT_EQ(monitor::is_default_excluded(scope, test.image, "READ"), test.excluded) << test.image;
}

} // namespace
} // namespace tallowick::app
