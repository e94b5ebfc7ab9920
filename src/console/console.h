#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
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

// While it lives, the lines of each stream go through a console_writer of its
// own, so that a blocked or failed output never holds up the caller; lines it
// has to drop are counted and said on standard error; once it is finished,
// lines are written directly again. Made and finished on one thread.
class asynchronous_console {
  public:
    asynchronous_console();
    ~asynchronous_console();
    asynchronous_console(const asynchronous_console&) = delete;
    asynchronous_console& operator=(const asynchronous_console&) = delete;

    // Writes what is queued, waiting at most `patience` for both streams
    // together, and goes back to writing directly: standard output first, then
    // `last_error_lines` runs (the run summary: its lines still go through the
    // writer), then standard error, which keeps a share of the patience for
    // itself. Returns the lines dropped.
    std::uint64_t finish(std::chrono::milliseconds patience = std::chrono::seconds(5),
                         const std::function<void()>& last_error_lines = {});

    // Standard error keeps 1/error_share of the patience.
    static constexpr int error_share = 5;

  private:
    std::unique_ptr<console_writer> error_writer_; // made first, finished last
    std::unique_ptr<console_writer> writer_;
};

} // namespace tallowick::console
