#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>

namespace tallowick::console {

class console_writer;

// Writes one console line to standard output in a single write, so that lines
// of concurrent tasks never interleave inside a line. `text` excludes the line
// end; `flush` pushes it out at once (start, stop and caught-error lines).
// Control characters inside `text` are shown escaped (console_text.h).
void write_line(std::string_view text, bool flush = false);

// The same for standard error, which is unbuffered.
void write_error_line(std::string_view text);

// Where standard error's lines go instead, each already made safe to show
// (a service has no console: its lines go to the Event Log); nullptr sends them
// to standard error again. Set while no other thread writes console lines.
using error_line_destination = void (*)(std::string_view line);
void redirect_error_lines(error_line_destination destination);

// Standard output's lines are not written at all while `discarded` (a service
// has no console to show them, and its standard output leads nowhere).
void discard_output_lines(bool discarded);

// While it lives, console lines go through a console_writer of their own to
// standard output, so that a blocked output never holds up the caller; lines
// it has to drop are counted and said on standard error. Made and finished on
// one thread while no other writes console lines.
class asynchronous_console {
  public:
    asynchronous_console();
    ~asynchronous_console();
    asynchronous_console(const asynchronous_console&) = delete;
    asynchronous_console& operator=(const asynchronous_console&) = delete;

    // Writes what is queued (waiting at most `patience` for a blocked output)
    // and goes back to writing directly. Returns the lines dropped.
    std::uint64_t finish(std::chrono::milliseconds patience = std::chrono::seconds(5));

  private:
    std::unique_ptr<console_writer> writer_;
};

} // namespace tallowick::console
