#include "platform/windows/windows_service.h"

#include "platform/windows/wide_text.h"

#include <windows.h>

#include <memory>
#include <thread>
#include <vector>

namespace tallowick::platform::windows {

service_failure::service_failure(const std::string& what, std::uint32_t error)
    : std::runtime_error(what + " failed with error " + std::to_string(error)), error_(error) {}

namespace {

// The portable numbers are Windows' own.
static_assert(static_cast<DWORD>(service_state::stopped) == SERVICE_STOPPED);
static_assert(static_cast<DWORD>(service_state::start_pending) == SERVICE_START_PENDING);
static_assert(static_cast<DWORD>(service_state::stop_pending) == SERVICE_STOP_PENDING);
static_assert(static_cast<DWORD>(service_state::running) == SERVICE_RUNNING);
static_assert(service_control_stop == SERVICE_CONTROL_STOP);
static_assert(service_control_interrogate == SERVICE_CONTROL_INTERROGATE);
static_assert(service_control_shutdown == SERVICE_CONTROL_SHUTDOWN);
static_assert(service_control_preshutdown == SERVICE_CONTROL_PRESHUTDOWN);
static_assert(service_accept_stop == SERVICE_ACCEPT_STOP);
static_assert(service_accept_shutdown == SERVICE_ACCEPT_SHUTDOWN);
static_assert(service_accept_preshutdown == SERVICE_ACCEPT_PRESHUTDOWN);
static_assert(service_no_error == NO_ERROR);
static_assert(service_call_not_implemented == ERROR_CALL_NOT_IMPLEMENTED);
static_assert(service_specific_error == ERROR_SERVICE_SPECIFIC_ERROR);
static_assert(error_access_denied == ERROR_ACCESS_DENIED);
static_assert(error_service_does_not_exist == ERROR_SERVICE_DOES_NOT_EXIST);
static_assert(error_failed_service_controller_connect == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
static_assert(error_service_marked_for_delete == ERROR_SERVICE_MARKED_FOR_DELETE);
static_assert(error_service_exists == ERROR_SERVICE_EXISTS);

struct service_handle_close {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using service_handle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, service_handle_close>;

struct key_close {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using registry_key = std::unique_ptr<std::remove_pointer_t<HKEY>, key_close>;

[[noreturn]] void fail(const std::string& what, DWORD error = GetLastError()) {
    throw service_failure(what, error);
}

service_handle open_manager(DWORD access) {
    service_handle manager(OpenSCManagerW(nullptr, nullptr, access));
    if (!manager)
        fail("OpenSCManagerW");
    return manager;
}

std::wstring event_source_key(std::u16string_view name) {
    return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + to_wide(name);
}

// A setting of ChangeServiceConfig2W that this Windows may not know.
void configure(SC_HANDLE service, DWORD level, void* info, const char* what, warning warn) {
    if (ChangeServiceConfig2W(service, level, info))
        return;
    if (warn)
        warn(std::string("tallowick: the service was installed without its ") + what + " (error " +
             std::to_string(GetLastError()) + ")");
}

} // namespace

void install_service(const service_definition& definition, warning warn) {
    const service_handle manager = open_manager(SC_MANAGER_CREATE_SERVICE);
    const std::wstring name = to_wide(definition.name);
    const std::wstring display = to_wide(definition.display_name);
    const std::wstring command = to_wide(definition.command_line);
    const service_handle service(CreateServiceW(manager.get(), name.c_str(), display.c_str(),
                                                SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                                nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service)
        fail("CreateServiceW");

    std::wstring description = to_wide(definition.description);
    SERVICE_DESCRIPTIONW described{description.data()};
    configure(service.get(), SERVICE_CONFIG_DESCRIPTION, &described, "description", warn);

    std::vector<SC_ACTION> actions(
        definition.restarts,
        SC_ACTION{SC_ACTION_RESTART, static_cast<DWORD>(definition.restart_delay.count())});
    SERVICE_FAILURE_ACTIONSW failure_actions{};
    failure_actions.dwResetPeriod = static_cast<DWORD>(definition.failure_count_reset.count());
    failure_actions.cActions = static_cast<DWORD>(actions.size());
    failure_actions.lpsaActions = actions.data();
    configure(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure_actions, "recovery actions", warn);
    // A run that fails stops with an exit code of its own rather than crashing:
    // that must restart it too.
    SERVICE_FAILURE_ACTIONS_FLAG on_any_failure{TRUE};
    configure(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &on_any_failure,
              "recovery after a failed run", warn);
    SERVICE_PRESHUTDOWN_INFO preshutdown{static_cast<DWORD>(definition.preshutdown_timeout.count())};
    configure(service.get(), SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown, "preshutdown time-out", warn);
}

void uninstall_service(std::u16string_view name, std::chrono::milliseconds patience) {
    const service_handle manager = open_manager(SC_MANAGER_CONNECT);
    const std::wstring wide_name = to_wide(name);
    const service_handle service(
        OpenServiceW(manager.get(), wide_name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service)
        fail("OpenServiceW");

    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.get(), &status))
        fail("QueryServiceStatus");
    if (status.dwCurrentState != SERVICE_STOPPED) {
        if (status.dwCurrentState != SERVICE_STOP_PENDING &&
            !ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
            const DWORD error = GetLastError();
            if (error != ERROR_SERVICE_NOT_ACTIVE)
                fail("ControlService", error);
        }
        // Its stop drains what it holds; wait for it rather than delete it running.
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        if (status.dwCurrentState != SERVICE_STOPPED)
            fail("waiting for the service to stop", ERROR_SERVICE_REQUEST_TIMEOUT);
    }
    if (!DeleteService(service.get()))
        fail("DeleteService");
}

void register_event_source(std::u16string_view name, std::u16string_view message_file) {
    HKEY created = nullptr;
    const std::wstring key = event_source_key(name);
    if (const LSTATUS status =
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, &created, nullptr);
        status != ERROR_SUCCESS)
        fail("RegCreateKeyExW", static_cast<DWORD>(status));
    const registry_key source(created);
    const std::wstring file = to_wide(message_file);
    const auto bytes = static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t));
    if (const LSTATUS status = RegSetValueExW(source.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                                              reinterpret_cast<const BYTE*>(file.c_str()), bytes);
        status != ERROR_SUCCESS)
        fail("RegSetValueExW", static_cast<DWORD>(status));
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    if (const LSTATUS status = RegSetValueExW(source.get(), L"TypesSupported", 0, REG_DWORD,
                                              reinterpret_cast<const BYTE*>(&types), sizeof types);
        status != ERROR_SUCCESS)
        fail("RegSetValueExW", static_cast<DWORD>(status));
}

void unregister_event_source(std::u16string_view name) {
    const std::wstring key = event_source_key(name);
    const LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        fail("RegDeleteKeyW", static_cast<DWORD>(status));
}

std::u16string program_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            fail("GetModuleFileNameW");
        if (length < path.size()) {
            path.resize(length);
            return from_wide(path);
        }
        path.resize(path.size() * 2);
    }
}

std::vector<std::u16string> administrators_folders() {
    std::vector<std::u16string> folders;
    for (const wchar_t* variable : {L"ProgramFiles", L"ProgramW6432", L"SystemRoot"}) {
        wchar_t value[MAX_PATH] = {};
        const DWORD length = GetEnvironmentVariableW(variable, value, MAX_PATH);
        if (length > 0 && length < MAX_PATH)
            folders.push_back(from_wide(std::wstring_view(value, length)));
    }
    return folders;
}

namespace {
// The dispatcher calls ServiceMain with no context of ours: one service per process.
std::wstring dispatched_name;
control_handler dispatched_handler = nullptr;
service_body dispatched_body = nullptr;

class manager_status final : public service_status_sink {
  public:
    explicit manager_status(SERVICE_STATUS_HANDLE handle) : handle_(handle) {}
    void report(const service_status& status) override {
        SERVICE_STATUS reported{};
        reported.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        reported.dwCurrentState = static_cast<DWORD>(status.state);
        reported.dwControlsAccepted = status.controls_accepted;
        reported.dwWin32ExitCode = status.win32_exit_code;
        reported.dwServiceSpecificExitCode = status.service_exit_code;
        reported.dwCheckPoint = status.checkpoint;
        reported.dwWaitHint = status.wait_hint_ms;
        SetServiceStatus(handle_, &reported);
    }

  private:
    SERVICE_STATUS_HANDLE handle_;
};

DWORD WINAPI on_control(DWORD control, DWORD, void*, void*) {
    return dispatched_handler(control);
}

void WINAPI service_main(DWORD, wchar_t**) {
    const SERVICE_STATUS_HANDLE handle =
        RegisterServiceCtrlHandlerExW(dispatched_name.c_str(), on_control, nullptr);
    if (handle == nullptr)
        return; // the manager sees the service never report, and says so
    manager_status status(handle);
    dispatched_body(status);
}
} // namespace

std::uint32_t run_service_dispatcher(std::u16string_view name, control_handler handler, service_body body) {
    dispatched_name = to_wide(name);
    dispatched_handler = handler;
    dispatched_body = body;
    SERVICE_TABLE_ENTRYW table[] = {{dispatched_name.data(), service_main}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table))
        return GetLastError();
    return ERROR_SUCCESS;
}

event_log::event_log(std::u16string_view name)
    : source_(RegisterEventSourceW(nullptr, to_wide(name).c_str())) {}

event_log::~event_log() {
    if (source_ != nullptr)
        DeregisterEventSource(source_);
}

void event_log::write(level kind, std::string_view line) noexcept {
    if (source_ == nullptr)
        return;
    try {
        const std::wstring text = utf8_to_wide(line);
        const wchar_t* strings[] = {text.c_str()};
        const WORD type = kind == level::error     ? EVENTLOG_ERROR_TYPE
                          : kind == level::warning ? EVENTLOG_WARNING_TYPE
                                                   : EVENTLOG_INFORMATION_TYPE;
        // Message 1 of the program's message table ("%1"); the level is the type's.
        ReportEventW(source_, type, 0, 1, nullptr, 1, 0, strings, nullptr);
    } catch (...) {
        // A line that cannot be told is lost with no one to tell.
    }
}

} // namespace tallowick::platform::windows
