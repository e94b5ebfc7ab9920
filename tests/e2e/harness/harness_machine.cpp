#include "e2e/harness/harness_machine.h"

#include "app/agent.h"
#include "platform/simulated/simulated_machine.h"

#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

namespace tallowick::testing::harness {

platform::simulated::simulated_tracing& machine_tracing() {
    // Never destroyed: when the process ends, its threads (the player's among
    // them) are gone before the DLL detaches, and the program may still call in.
    static platform::simulated::simulated_machine* const machine = [] {
        platform::simulated::player_settings settings;
        settings.sessions = app::agent_trace_sessions;
        settings.interrupt = deliver_interrupt;
        try {
            return platform::simulated::make_simulated_machine(std::getenv("TALLOWICK_SIM_SCENARIO"),
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
