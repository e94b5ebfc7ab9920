#include "monitor/lookups.h"
#include "monitor/volume_path_cache.h"
#include "platform/simulated/simulated_system.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace tallowick::monitor {
namespace {

using namespace platform::simulated;

machine_inventory volume_machine() {
    machine_inventory model;
    model.volumes.push_back({"\\Device\\HarddiskVolume12\\", "D:\\"});
    model.volumes.push_back({"\\Device\\HarddiskVolume5\\", "E:\\Mounted\\"});
    model.volumes.push_back({"\\Device\\HarddiskVolume7\\", "F:\\"});
    return model;
}

class DrivePath : public ::testing::Test {
  protected:
    simulated_system system{volume_machine()};
    platform::scoped_system installed{system};
    volume_path_cache cache;
};

TEST_F(DrivePath, ReplacesAVolumeDevicePrefixAtTheStartOnly) {
    struct path_case {
        std::string device;
        std::string drive;
    };
    const path_case cases[] = {
        {"\\Device\\HarddiskVolume3\\Users\\user1\\a.txt", "C:\\Users\\user1\\a.txt"},
        {"\\Device\\HarddiskVolume12\\x", "D:\\x"}, // every digit belongs to the prefix
        // Off the boot volume: its own letter, not the boot volume's.
        {"\\Device\\HarddiskVolume7\\data\\b.csv", "F:\\data\\b.csv"},
        // Mounted at a folder, without a drive letter: kept as it is.
        {"\\Device\\HarddiskVolume5\\data\\b.csv", "\\Device\\HarddiskVolume5\\data\\b.csv"},
        {"\\Device\\HarddiskVolume3\\a\\Device\\HarddiskVolume12\\b", "C:\\a\\Device\\HarddiskVolume12\\b"},
        {"\\Device\\HarddiskVolume\\x", "\\Device\\HarddiskVolume\\x"}, // no digits
        {"\\Device\\Mup\\server\\share\\x", "\\Device\\Mup\\server\\share\\x"},
        // A share whose folders spell a volume's prefix is still the share.
        {"\\Device\\Mup\\evilhost\\share\\Device\\HarddiskVolume3\\Users\\a.txt",
         "\\Device\\Mup\\evilhost\\share\\Device\\HarddiskVolume3\\Users\\a.txt"},
        {"x\\Device\\HarddiskVolume3\\a.txt", "x\\Device\\HarddiskVolume3\\a.txt"},
        {"\\Device\\HarddiskVolume3", "\\Device\\HarddiskVolume3"}, // no final backslash
        {"\\Device\\HarddiskVolume3x\\y", "\\Device\\HarddiskVolume3x\\y"},
        {"\\Device\\HarddiskVolume1\\x", "\\Device\\HarddiskVolume1\\x"}, // no such volume
        {"\\Device\\HarddiskVolume12\\caf\xe9.txt", "D:\\caf\xe9.txt"},   // the rest kept byte for byte
        {"C:\\Users\\a.txt", "C:\\Users\\a.txt"},
        {"", ""},
    };
    for (const path_case& test : cases)
        EXPECT_EQ(device_path_to_drive_path(test.device, cache), test.drive) << test.device;
}

TEST_F(DrivePath, BuildsTheDriveMapOnceAndAgainForAVolumeMountedSince) {
    EXPECT_EQ(device_path_to_drive_path("\\Device\\HarddiskVolume12\\a.txt", cache), "D:\\a.txt");
    EXPECT_EQ(device_path_to_drive_path("\\Device\\HarddiskVolume3\\Other\\b.txt", cache),
              "C:\\Other\\b.txt");
    EXPECT_EQ(cache.build_count(), 1u);
    EXPECT_EQ(cache.size(), 3u);                // C:, D: and F:
    EXPECT_EQ(system.volume_query_count(), 0u); // never GetVolumePathNameW

    // Unknown: one build more, and none again while the drive letters stay as they are.
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_EQ(device_path_to_drive_path("\\Device\\HarddiskVolume40\\x", cache),
                  "\\Device\\HarddiskVolume40\\x");
    EXPECT_EQ(cache.build_count(), 2u);

    system.add_volume({"\\Device\\HarddiskVolume40\\", "G:\\"});
    EXPECT_EQ(device_path_to_drive_path("\\Device\\HarddiskVolume40\\x", cache), "G:\\x");
    EXPECT_EQ(cache.build_count(), 3u);
    EXPECT_EQ(device_path_to_drive_path("\\Device\\HarddiskVolume12\\c.txt", cache), "D:\\c.txt");
    EXPECT_EQ(cache.build_count(), 3u);
}

TEST_F(DrivePath, SurvivesAnEndlessRunOfDigits) {
    const std::string path = "\\Device\\HarddiskVolume" + std::string(200000, '7') + "\\x";
    EXPECT_EQ(device_path_to_drive_path(path, cache), path);
    EXPECT_EQ(find_volume_device_prefix(path)->length, path.size() - 1);
}

// What the expression ^\\Device\\HarddiskVolume[0-9]+\\ finds.
TEST(VolumeDevicePrefix, FindsTheExpressionAtTheStartOnly) {
    struct prefix_case {
        std::string path;
        std::optional<std::pair<std::size_t, std::size_t>> match; // position, length
    };
    const prefix_case cases[] = {
        {"\\Device\\HarddiskVolume3\\a", std::pair(0, 24)},
        {"\\Device\\HarddiskVolume42\\", std::pair(0, 25)},
        {"x\\Device\\HarddiskVolume42\\", std::nullopt},
        {"\\Device\\HarddiskVolume\\Device\\HarddiskVolume4\\", std::nullopt},
        {"\\Device\\HarddiskVolume12a\\Device\\HarddiskVolume3\\f", std::nullopt},
        {"\\\\Device\\HarddiskVolume0\\\\", std::nullopt},
        {"\\Device\\HarddiskVolume1\\\\Device", std::pair(0, 24)},
        {"\\Device\\HarddiskVolume3", std::nullopt},
        {"\\device\\harddiskvolume3\\", std::nullopt},
        {"\\Device\\HarddiskVolume\\Device\\HarddiskVolume", std::nullopt},
        {"", std::nullopt},
    };
    for (const prefix_case& test : cases) {
        const auto found = find_volume_device_prefix(test.path);
        ASSERT_EQ(found.has_value(), test.match.has_value()) << test.path;
        if (found) {
            EXPECT_EQ(found->position, test.match->first) << test.path;
            EXPECT_EQ(found->length, test.match->second) << test.path;
        }
    }
}

TEST_F(DrivePath, IsConsistentUnderManyWorkers) {
    struct volume {
        std::string device;
        std::string drive;
    };
    const std::vector<volume> volumes = {{"\\Device\\HarddiskVolume3\\", "C:\\"},
                                         {"\\Device\\HarddiskVolume12\\", "D:\\"},
                                         {"\\Device\\HarddiskVolume7\\", "F:\\"}};
    constexpr int workers = 8;
    constexpr int paths_per_worker = 2000;
    std::vector<int> wrong(workers, 0);
    std::vector<std::thread> threads;
    for (int worker = 0; worker < workers; ++worker) {
        threads.emplace_back([&, worker] {
            for (int i = 0; i < paths_per_worker; ++i) {
                const volume& target = volumes[static_cast<std::size_t>(i + worker) % volumes.size()];
                const std::string file = "dir" + std::to_string(worker) + "\\f" + std::to_string(i);
                if (device_path_to_drive_path(target.device + file, cache) != target.drive + file)
                    ++wrong[static_cast<std::size_t>(worker)];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int worker = 0; worker < workers; ++worker)
        EXPECT_EQ(wrong[static_cast<std::size_t>(worker)], 0) << worker;
    EXPECT_EQ(cache.size(), volumes.size());
    EXPECT_EQ(cache.build_count(), 1u);
}

} // namespace
} // namespace tallowick::monitor
