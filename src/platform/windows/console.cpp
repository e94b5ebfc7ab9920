#include "platform/console.h"

#include "platform/windows/wide_text.h"

#include <windows.h>

#include <atomic>

namespace tallowick::platform {
namespace {
bool is_console(DWORD standard_handle) {
    const HANDLE handle = GetStdHandle(standard_handle);
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

std::atomic<console_control_handler> installed_handler{nullptr};

BOOL WINAPI on_control(DWORD event) {
    const console_control_handler handler = installed_handler.load();
    return handler != nullptr && handler(event) ? TRUE : FALSE;
}
} // namespace

bool write_to_console(std::FILE* stream, std::string_view text) {
    // The standard handles of a console program do not change while it runs.
    static const bool output_is_console = is_console(STD_OUTPUT_HANDLE);
    static const bool error_is_console = is_console(STD_ERROR_HANDLE);
    const bool to_error = stream == stderr;
    if (!(to_error ? error_is_console : output_is_console))
        return false;
    const HANDLE handle = GetStdHandle(to_error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    const std::wstring wide = windows::utf8_to_wide(text);
    // One call per line keeps lines whole; a console may take less at a time.
    const wchar_t* next = wide.data();
    std::size_t left = wide.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = left > 0x7FFFu ? 0x7FFFu : static_cast<DWORD>(left);
        if (WriteConsoleW(handle, next, chunk, &written, nullptr) == 0 || written == 0)
            break;
        next += written;
        left -= written;
    }
    return true;
}

void install_console_control_handler(console_control_handler handler) {
    installed_handler.store(handler);
    SetConsoleCtrlHandler(&on_control, TRUE);
}

} // namespace tallowick::platform
