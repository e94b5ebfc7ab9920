#include "e2e/harness/harness_machine.h"

#include "app/agent.h"
#include "platform/simulated/simulated_machine.h"

#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tallowick::testing::harness {
namespace {
// TALLOWICK_SIM_SCENARIO, else tallowick-scenario.json beside this DLL where
// it exists: a service's process gets its environment from the service
// manager, not from the test (nullptr: the demo).
std::optional<std::string> scenario_path() {
    if (const char* named = std::getenv("TALLOWICK_SIM_SCENARIO"))
        return std::string(named);
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&scenario_path), &self))
        return std::nullopt;
    wchar_t module[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(self, module, MAX_PATH);
    if (length == 0 || length == MAX_PATH)
        return std::nullopt;
    const std::filesystem::path beside =
        std::filesystem::path(module).parent_path() / "tallowick-scenario.json";
    std::error_code ignored;
    if (!std::filesystem::exists(beside, ignored))
        return std::nullopt;
    return beside.string();
}
} // namespace

platform::simulated::simulated_tracing& machine_tracing() {
    // Never destroyed: when the process ends, its threads (the player's among
    // them) are gone before the DLL detaches, and the program may still call in.
    static platform::simulated::simulated_machine* const machine = [] {
        platform::simulated::player_settings settings;
        settings.sessions = app::agent_trace_sessions;
        settings.interrupt = deliver_interrupt;
        try {
            const std::optional<std::string> scenario = scenario_path();
            return platform::simulated::make_simulated_machine(scenario ? scenario->c_str() : nullptr,
                                                               settings)
                .release();
        } catch (const std::exception& error) {
            refuse(error.what(), 2);
        }
    }();
    return machine->tracing();
}

void deliver_interrupt() {
    // The harness and the program share msvcrt, whose signal table holds the
    // program's SIGINT handler; raise() runs it on the calling thread.
    std::raise(SIGINT);
}

void refuse(std::string_view problem, unsigned status) {
    const std::string line = "tdh harness: " + std::string(problem) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
              nullptr);
    TerminateProcess(GetCurrentProcess(), status);
    std::abort(); // not reached: TerminateProcess of the own process does not return
}

} // namespace tallowick::testing::harness
