#include "support/run_process.h"
#include "support/windows_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tallowick::testing {
namespace {

// On Windows the arguments reach the agent as UTF-16 and its console lines
// leave it as UTF-8: a value outside the ANSI code page must come back intact.
TEST(AgentCommandLine, NonAsciiValuesComeBackAsUtf8) {
    const std::string path = "\\Users\\Zo\xC3\xAB\\\xE6\x96\x87\xE4\xBB\xB6";
    const std::string process = "na\xC3\xAFve.exe";
    const process_result run = run_process(TALLOWICK_AGENT_PATH, {"--path", path, "--excludeproc", process});
    EXPECT_NE(run.out.find("Monitoring path: " + path + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Excluding Process: " + process + "\n"), std::string::npos) << run.out;
}

// Where event tracing cannot run (as under Wine, whose provider collection is
// missing), the agent ends by itself: one line naming what failed, status 1.
TEST(AgentCommandLine, EndsCleanlyWhereTracingCannotRun) {
    const process_result run = run_process(TALLOWICK_AGENT_PATH, {});
    if (run.exit_status == 0)
        GTEST_SKIP() << "event tracing works here";
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.rfind("tallowick: ", 0), 0u) << run.err;
}

// What Explorer's properties and the installer tools read, and what makes the
// version test answer the real Windows version: the version resource and the
// manifest of the program as built; the message table the Event Log reads.
TEST(AgentProgram, CarriesItsVersionAndItsManifest) {
    const std::wstring program = resolve_program(TALLOWICK_AGENT_PATH);
    std::vector<BYTE> info(GetFileVersionInfoSizeW(program.c_str(), nullptr));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    const auto text = [&](const wchar_t* name) {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || length == 0)
            return std::string("<none>");
        return narrow(static_cast<const wchar_t*>(value));
    };
    EXPECT_EQ(text(L"ProductName"), "Tallowick");
    EXPECT_EQ(text(L"ProductVersion"), TALLOWICK_VERSION);
    EXPECT_EQ(text(L"FileDescription"), "Tallowick file and process activity agent");

    const HMODULE image = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    const HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
    const std::string manifest(bytes, SizeofResource(image, found));
    // The Event Log shows a service's line through the program's message 1.
    wchar_t line[] = L"tallowick: a line";
    DWORD_PTR inserted[] = {reinterpret_cast<DWORD_PTR>(line)};
    wchar_t message[256] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, image, 1,
                                        0x409, message, 256, reinterpret_cast<va_list*>(inserted));
    EXPECT_EQ(narrow(std::wstring(message, length)), "tallowick: a line\r\n");
    FreeLibrary(image);
    EXPECT_NE(manifest.find(R"(level="asInvoker")"), std::string::npos);
    for (const char* windows :
         {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
          "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_NE(manifest.find(windows), std::string::npos) << windows;
}

} // namespace
} // namespace tallowick::testing
