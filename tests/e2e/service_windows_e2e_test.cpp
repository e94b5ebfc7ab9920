// The unmodified Tallowick.exe as a service of Wine's service control manager,
// its trace calls answered by the simulated machine through the tdh harness:
// installed, started, queried, sending a document's event to a real socket,
// stopped after its drain and removed. What Wine cannot do (deliver SHUTDOWN or
// PRESHUTDOWN, apply recovery actions) the unit tests of the control's
// decisions cover; the recovery actions are read back as stored.
#include "collector/message_check.h"
#include "support/json_text.h"
#include "support/run_process.h"
#include "support/udp_receiver.h"
#include "support/windows_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tallowick::testing {
namespace {
namespace fs = std::filesystem;

fs::path harnessed_program() {
    return fs::path(own_program_path()).parent_path().parent_path() / "harness" / "Tallowick.exe";
}

struct service_handle_close {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using service_handle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, service_handle_close>;

service_handle open_service(DWORD access) {
    const service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return nullptr;
    return service_handle(OpenServiceW(manager.get(), L"Tallowick", access));
}

SERVICE_STATUS_PROCESS status_of(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed))
        status.dwCurrentState = 0;
    return status;
}

// The states the service passes through until `last` (or a generous bound),
// each once, in order.
std::vector<DWORD> states_until(SC_HANDLE service, DWORD last) {
    std::vector<DWORD> seen;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (std::chrono::steady_clock::now() < give_up) {
        const DWORD state = status_of(service).dwCurrentState;
        if (seen.empty() || seen.back() != state)
            seen.push_back(state);
        if (state == last || state == SERVICE_STOPPED)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return seen;
}

template <typename Info> std::vector<BYTE> service_config2(SC_HANDLE service, DWORD level) {
    DWORD needed = 0;
    QueryServiceConfig2W(service, level, nullptr, 0, &needed);
    std::vector<BYTE> bytes(std::max<DWORD>(needed, sizeof(Info)));
    if (!QueryServiceConfig2W(service, level, bytes.data(), static_cast<DWORD>(bytes.size()), &needed)) {
        ADD_FAILURE() << "QueryServiceConfig2W(" << level << ") failed with " << GetLastError();
        bytes.clear();
    }
    return bytes;
}

class ServiceUnderWine : public ::testing::Test {
  protected:
    void SetUp() override {
        // What an earlier run that failed half-way may have left.
        run_process(narrow(harnessed_program().wstring()), {"--uninstall-service"});
        // A space in the folder: the stored command line must quote it.
        folder_ = fs::path(L"C:\\tallowick service " + std::to_wstring(GetCurrentProcessId()));
        fs::create_directories(folder_);
    }
    void TearDown() override {
        run_process(narrow(harnessed_program().wstring()), {"--uninstall-service"});
        std::error_code ignored;
        fs::remove(scenario_, ignored);
        fs::remove_all(folder_, ignored);
    }

    process_result tallowick(const std::vector<std::string>& args) {
        return run_process(narrow(harnessed_program().wstring()), args);
    }
    void write_scenario(const std::string& text) { std::ofstream(scenario_, std::ios::binary) << text; }
    std::string device_path(const std::string& name) const {
        wchar_t device[MAX_PATH] = {};
        QueryDosDeviceW(L"C:", device, MAX_PATH);
        return narrow(device) + narrow(folder_.wstring()).substr(2) + "\\" + name;
    }

    fs::path folder_;
    // The service's process has the service manager's environment, not ours:
    // the harness reads its scenario from beside itself.
    const fs::path scenario_ = harnessed_program().parent_path() / "tallowick-scenario.json";
    udp_receiver receiver;
};

TEST_F(ServiceUnderWine, InstallsRunsOnceTheSessionsDoSendsStopsAfterTheDrainAndUninstalls) {
    const std::string folder = narrow(folder_.wstring());
    const process_result installed =
        tallowick({"--install-service", "--path", folder, "--excludeproc", "backup.exe"});
    ASSERT_EQ(installed.exit_status, 0) << installed.err;
    const std::string stored = "\"" + narrow(harnessed_program().wstring()) +
                               "\" --service \"--path=" + folder.substr(2) + "\" --excludeproc=backup.exe";
    EXPECT_EQ(installed.out, "Service Tallowick installed: " + stored + "\n");
    EXPECT_EQ(tallowick({"--install-service"}).exit_status, 1);

    service_handle service(
        open_service(SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP));
    ASSERT_TRUE(service);
    {
        DWORD needed = 0;
        QueryServiceConfigW(service.get(), nullptr, 0, &needed);
        std::vector<BYTE> bytes(needed);
        ASSERT_TRUE(QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(bytes.data()),
                                        needed, &needed));
        const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(bytes.data());
        EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
        EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
        EXPECT_EQ(narrow(config->lpBinaryPathName), stored);
        EXPECT_EQ(narrow(config->lpServiceStartName), "LocalSystem");
        const std::vector<BYTE> description =
            service_config2<SERVICE_DESCRIPTIONW>(service.get(), SERVICE_CONFIG_DESCRIPTION);
        ASSERT_FALSE(description.empty());
        EXPECT_NE(narrow(reinterpret_cast<const SERVICE_DESCRIPTIONW*>(description.data())->lpDescription)
                      .find("Event Tracing for Windows"),
                  std::string::npos);
    }

    // Sessions that start slowly: the manager is told START_PENDING meanwhile.
    const std::string document = device_path("Budget.xlsx");
    write_scenario(R"({"format": 1, "machine": {"session_start_delay_ms": 2000}, "steps": [)"
                   R"({"file_open": {"pid": )" +
                   std::to_string(GetCurrentProcessId()) + R"(, "name": ")" + json_text(document) +
                   R"(", "share_access": 1}}]})");
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    const std::vector<DWORD> starting = states_until(service.get(), SERVICE_RUNNING);
    ASSERT_FALSE(starting.empty());
    EXPECT_EQ(starting.front(), static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(starting.back(), static_cast<DWORD>(SERVICE_RUNNING));
    const SERVICE_STATUS_PROCESS running = status_of(service.get());
    EXPECT_EQ(running.dwControlsAccepted & SERVICE_ACCEPT_STOP, static_cast<DWORD>(SERVICE_ACCEPT_STOP));

    // The document's open, from this test's own process, reaches the socket.
    const std::optional<std::string> sent = receiver.receive(std::chrono::seconds(60));
    ASSERT_TRUE(sent.has_value());
    const collector::check_result checked = collector::check_message(*sent);
    EXPECT_TRUE(checked.ok()) << checked.problem << ": " << *sent;
    EXPECT_NE(sent->find(R"("Filename":")" + json_text(folder + "\\Budget.xlsx") + "\""), std::string::npos)
        << *sent;
    EXPECT_NE(sent->find(R"("Event_Type":"FILESYSTEM")"), std::string::npos) << *sent;

    SERVICE_STATUS control{};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &control)) << GetLastError();
    const std::vector<DWORD> stopping = states_until(service.get(), SERVICE_STOPPED);
    EXPECT_EQ(stopping.back(), static_cast<DWORD>(SERVICE_STOPPED));
    const SERVICE_STATUS_PROCESS stopped = status_of(service.get());
    EXPECT_EQ(stopped.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
    EXPECT_TRUE(receiver.receive_pending().empty()); // nothing after the drain

    // A service stays until every handle to it is closed, as on Windows.
    service.reset();
    const process_result removed = tallowick({"--uninstall-service"});
    EXPECT_EQ(removed.exit_status, 0) << removed.err;
    EXPECT_EQ(removed.out, "Service Tallowick removed\n");
    EXPECT_FALSE(open_service(SERVICE_QUERY_STATUS));
    const process_result again = tallowick({"--uninstall-service"});
    EXPECT_EQ(again.exit_status, 1);
    EXPECT_NE(again.err.find("no service named Tallowick"), std::string::npos) << again.err;
}

// Restart after 60 seconds, three times: as stored. Wine 8 stores the actions
// but cannot read them back (QueryServiceConfig2W answers 124 for the level).
TEST_F(ServiceUnderWine, RecoveryActionsReadBackAsStored) {
    ASSERT_EQ(tallowick({"--install-service"}).exit_status, 0);
    const service_handle service(open_service(SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(service);
    DWORD needed = 0;
    if (!QueryServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, nullptr, 0, &needed) &&
        GetLastError() == ERROR_INVALID_LEVEL)
        GTEST_SKIP() << "this service manager cannot read recovery actions back";
    const std::vector<BYTE> recovery =
        service_config2<SERVICE_FAILURE_ACTIONSW>(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS);
    ASSERT_FALSE(recovery.empty());
    const auto* actions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(recovery.data());
    ASSERT_EQ(actions->cActions, 3u);
    for (DWORD i = 0; i < actions->cActions; ++i) {
        EXPECT_EQ(actions->lpsaActions[i].Type, SC_ACTION_RESTART) << i;
        EXPECT_EQ(actions->lpsaActions[i].Delay, 60'000u) << i;
    }
}

// A run that fails (no administrative rights for the trace sessions) stops the
// service with the agent's status as its own exit code, which recovery acts on.
TEST_F(ServiceUnderWine, AFailedRunStopsWithTheAgentsStatus) {
    ASSERT_EQ(tallowick({"--install-service"}).exit_status, 0);
    write_scenario(R"({"format": 1, "machine": {"admin": false}, "steps": []})");
    const service_handle service(open_service(SERVICE_QUERY_STATUS | SERVICE_START));
    ASSERT_TRUE(service);
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    const std::vector<DWORD> states = states_until(service.get(), SERVICE_STOPPED);
    EXPECT_EQ(states.back(), static_cast<DWORD>(SERVICE_STOPPED));
    for (const DWORD state : states)
        EXPECT_NE(state, static_cast<DWORD>(SERVICE_RUNNING));
    const SERVICE_STATUS_PROCESS stopped = status_of(service.get());
    EXPECT_EQ(stopped.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(stopped.dwServiceSpecificExitCode, 1u);
}

// A stop while the sessions still start ends the run cleanly, never RUNNING;
// --uninstall-service stops a running service (its ordered stop) before it
// removes it.
TEST_F(ServiceUnderWine, AStopWhileStartingAndAnUninstallWhileRunningStopInOrder) {
    ASSERT_EQ(tallowick({"--install-service"}).exit_status, 0);
    service_handle service(open_service(SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP));
    ASSERT_TRUE(service);

    write_scenario(R"({"format": 1, "machine": {"session_start_delay_ms": 3000}, "steps": []})");
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    // The manager refuses a stop until the service says it takes one.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while ((status_of(service.get()).dwControlsAccepted & SERVICE_ACCEPT_STOP) == 0 &&
           std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(status_of(service.get()).dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
    SERVICE_STATUS control{};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &control)) << GetLastError();
    const std::vector<DWORD> stopping = states_until(service.get(), SERVICE_STOPPED);
    EXPECT_EQ(stopping.back(), static_cast<DWORD>(SERVICE_STOPPED));
    for (const DWORD state : stopping)
        EXPECT_NE(state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status_of(service.get()).dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));

    write_scenario(R"({"format": 1, "steps": []})");
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    ASSERT_EQ(states_until(service.get(), SERVICE_RUNNING).back(), static_cast<DWORD>(SERVICE_RUNNING));
    service.reset();
    const process_result removed = tallowick({"--uninstall-service"});
    EXPECT_EQ(removed.exit_status, 0) << removed.err;
    EXPECT_FALSE(open_service(SERVICE_QUERY_STATUS));
}

TEST_F(ServiceUnderWine, ServiceSwitchInAConsoleOnlySaysSo) {
    const process_result run = tallowick({"--service"});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_NE(run.err.find("service control manager"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

} // namespace
} // namespace tallowick::testing
