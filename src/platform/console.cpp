#include "platform/console.h"

namespace tallowick::platform {

bool write_to_console(std::FILE*, std::string_view) {
    return false;
}

void install_console_control_handler(console_control_handler) {}

} // namespace tallowick::platform
