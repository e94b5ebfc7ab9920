#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace tallowick::platform {

// Writes UTF-8 text to `stream` (stdout or stderr) through the console itself
// when the stream is a real Windows console: as UTF-16 with WriteConsoleW, so
// non-ASCII text shows right whatever the console's code page, which is left
// as it was found. Returns false, having written nothing, for a pipe or a file
// and off Windows: the caller writes the bytes to the stream then.
bool write_to_console(std::FILE* stream, std::string_view text);

// SetConsoleCtrlHandler(handler, TRUE) on Windows, with `handler` given the
// event number; nothing elsewhere, where signals end the program.
using console_control_handler = bool (*)(std::uint32_t event);
void install_console_control_handler(console_control_handler handler);

} // namespace tallowick::platform
