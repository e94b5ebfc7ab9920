#include "app/service_host.h"

#include "console/console.h"

namespace tallowick::app {
namespace {
int windows_only(const char* option) {
    console::write_error_line(std::string("tallowick: ") + option + ": a service runs on Windows only");
    return 1;
}
} // namespace

int install_service(const std::vector<std::string>&) {
    return windows_only("--install-service");
}

int uninstall_service() {
    return windows_only("--uninstall-service");
}

int run_as_service(const std::vector<std::string>&) {
    return windows_only("--service");
}

} // namespace tallowick::app
