#include "app/exclusion_tables.h"

#include <gtest/gtest.h>

namespace tallowick::app {
namespace {

TEST(ExclusionTables, CountsAndExactEntries) {
    ASSERT_EQ(default_excluded_processes.size(), 34u);
    EXPECT_EQ(default_excluded_processes.front(), "ServiceHub.");
    EXPECT_EQ(default_excluded_processes[18], "Tallowick.exe");
    EXPECT_EQ(default_excluded_processes[22], "tallowick.exe");
    EXPECT_EQ(default_excluded_processes[29], "velmar windows agent\\winagent.exe");
    EXPECT_EQ(default_excluded_processes[29].size(), 33u);
    EXPECT_EQ(default_excluded_processes.back(), "standardcollector.service.exe");

    ASSERT_EQ(excluded_agent_images.size(), 2u);
    EXPECT_EQ(excluded_agent_images[0], default_excluded_processes[29]);
    EXPECT_EQ(excluded_agent_images[1], "windowsazureguestagent.exe");

    ASSERT_EQ(document_extensions.size(), 17u);
    EXPECT_EQ(document_extensions.front(), ".zip");
    EXPECT_EQ(document_extensions[10], ".7z");
    EXPECT_EQ(document_extensions.back(), ".csv");
    for (const std::string& extension : document_extensions)
        EXPECT_EQ(extension.front(), '.');
}

} // namespace
} // namespace tallowick::app
