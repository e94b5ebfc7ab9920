#include "app/service_host.h"

#include "app/agent.h"
#include "app/interrupt.h"
#include "app/service_command_line.h"
#include "app/service_control.h"
#include "console/console.h"
#include "platform/utf_codec.h"
#include "platform/windows/windows_service.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace tallowick::app {
namespace {

namespace windows = platform::windows;

// How long --uninstall-service waits for a running service's ordered stop.
constexpr std::chrono::seconds uninstall_patience{60};
// How often a pending state's checkpoint moves on.
constexpr std::chrono::seconds checkpoint_interval{1};

int refused(const std::string& what, const windows::service_failure& failure) {
    if (failure.error() == windows::error_access_denied)
        console::write_error_line("tallowick: " + what + " needs administrative rights");
    else if (failure.error() == windows::error_service_marked_for_delete)
        console::write_error_line(
            "tallowick: " + what +
            ": the service Tallowick is being removed; it goes once "
            "every program that has it open (the Services window among them) closes it");
    else
        console::write_error_line("tallowick: " + what + ": " + failure.what());
    return 1;
}

// The service's lines, once it has no console: the Event Log. The agent's own
// diagnostics are warnings, the run summary information.
std::optional<windows::event_log> service_log;

void to_event_log(std::string_view line) {
    const bool diagnostic = line.starts_with("tallowick: ");
    service_log->write(
        diagnostic ? windows::event_log::level::warning : windows::event_log::level::information, line);
}

// Lives until the process ends: the manager may still ask while the run ends.
std::optional<service_control> control;
std::atomic<service_control*> published_control{nullptr};
std::vector<std::string> service_arguments;
int service_exit_status = 0;

std::uint32_t on_control(std::uint32_t code) {
    service_control* const current = published_control.load();
    return current != nullptr ? current->handle(code) : platform::service_no_error;
}

// Moves a pending state's checkpoint on, so that the manager sees the start or
// the stop progress while the sessions start, drain and sum up.
class checkpoint_ticker {
  public:
    explicit checkpoint_ticker(service_control& target)
        : thread_([this, &target] {
              std::unique_lock lock(mutex_);
              while (!changed_.wait_for(lock, checkpoint_interval, [this] { return ending_; }))
                  target.progress();
          }) {}
    ~checkpoint_ticker() {
        {
            const std::lock_guard lock(mutex_);
            ending_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    checkpoint_ticker(const checkpoint_ticker&) = delete;
    checkpoint_ticker& operator=(const checkpoint_ticker&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ending_ = false;
    std::thread thread_;
};

int run_service_agent() {
    try {
        std::vector<const char*> argv;
        for (const std::string& argument : service_arguments)
            argv.push_back(argument.c_str());
        run_hooks hooks;
        hooks.sessions_running = [] { control->sessions_running(); };
        hooks.stopping = [] { control->stopping(); };
        hooks.console_controls = false; // the manager's controls, not the console's
        return run_monitoring(parse_command_line(static_cast<int>(argv.size()), argv.data()), hooks);
    } catch (const std::exception& error) {
        console::write_error_line(std::string("tallowick: the service's command line: ") + error.what());
        return 2;
    }
}

void service_body(platform::service_status_sink& status) {
    service_log.emplace(service_name);
    console::discard_output_lines(true);
    console::redirect_error_lines(&to_event_log);
    control.emplace(
        status,
        [] {
            stop_requested.store(true);
            wake_main_thread();
        },
        console::write_error_line);
    published_control.store(&*control);
    control->starting();
    int exit_status = 1;
    {
        const checkpoint_ticker ticker(*control);
        exit_status = run_service_agent();
    }
    service_exit_status = exit_status;
    service_log->write(exit_status == 0 ? windows::event_log::level::information
                                        : windows::event_log::level::error,
                       "tallowick: the service stopped with status " + std::to_string(exit_status));
    // The log goes with the process's statics; nothing may reach it after this.
    console::redirect_error_lines(nullptr);
    control->stopped(exit_status);
}

} // namespace

int install_service(const std::vector<std::string>& options) {
    try {
        windows::service_definition service;
        service.name = service_name;
        service.display_name = u"Tallowick file and process activity agent";
        service.description =
            u"Watches file and process activity through Event Tracing for Windows and sends "
            u"each event as one JSON datagram to a collector on 127.0.0.1:13251.";
        const std::u16string program = windows::program_path();
        const std::string command = service_command_line(platform::utf16_to_utf8(program), options);
        service.command_line = platform::utf8_to_utf16(command);
        windows::install_service(service, console::write_error_line);
        try {
            windows::register_event_source(service_name, program);
        } catch (const windows::service_failure& failure) {
            console::write_error_line(std::string("tallowick: the Event Log source was not registered: ") +
                                      failure.what());
        }
        std::vector<std::string> protected_folders;
        for (const std::u16string& folder : windows::administrators_folders())
            protected_folders.push_back(platform::utf16_to_utf8(folder));
        const std::string program_text = platform::utf16_to_utf8(program);
        if (!lies_within_any(program_text, protected_folders))
            console::write_error_line("tallowick: the service runs " + program_text +
                                      " as LocalSystem: keep it in a folder only administrators may change, "
                                      "such as C:\\Program Files\\Tallowick, or whoever may replace it owns "
                                      "this machine");
        console::write_line("Service Tallowick installed: " + command);
        return 0;
    } catch (const windows::service_failure& failure) {
        if (failure.error() == windows::error_service_exists) {
            console::write_error_line("tallowick: a service named Tallowick is installed already "
                                      "(--uninstall-service removes it)");
            return 1;
        }
        return refused("installing the service", failure);
    }
}

int uninstall_service() {
    try {
        windows::uninstall_service(service_name, uninstall_patience);
    } catch (const windows::service_failure& failure) {
        if (failure.error() == windows::error_service_does_not_exist) {
            console::write_error_line("tallowick: no service named Tallowick is installed");
            return 1;
        }
        return refused("removing the service", failure);
    }
    try {
        windows::unregister_event_source(service_name);
    } catch (const windows::service_failure& failure) {
        console::write_error_line(std::string("tallowick: the Event Log source was left: ") + failure.what());
    }
    console::write_line("Service Tallowick removed");
    return 0;
}

int run_as_service(const std::vector<std::string>& args) {
    service_arguments = args;
    const std::uint32_t error = windows::run_service_dispatcher(service_name, on_control, service_body);
    if (error == windows::error_failed_service_controller_connect) {
        console::write_error_line("tallowick: --service is the service control manager's; "
                                  "in a console, run the agent without it");
        return 1;
    }
    if (error != 0) {
        console::write_error_line("tallowick: the service dispatcher failed with error " +
                                  std::to_string(error));
        return 1;
    }
    return service_exit_status;
}

} // namespace tallowick::app
