#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>

namespace tallowick::console {

class console_writer;
class line_losses;

// Writes one console line to standard output in a single write, so that lines
// of concurrent tasks never interleave inside a line. `text` excludes the line
// end; `flush` pushes it out at once (start, stop and caught-error lines).
// Control characters inside `text` are shown escaped (console_text.h).
void write_line(std::string_view text, bool flush = false);

// The same for standard error, which is unbuffered.
void write_error_line(std::string_view text);

// While it lives, console lines go through a console_writer of their own to
// standard output, so that a blocked output never holds up the caller; lines
// it has to drop are said on standard error and told to `losses`. Made and
// finished on one thread while no other writes console lines.
class asynchronous_console {
  public:
    explicit asynchronous_console(line_losses* losses = nullptr);
    ~asynchronous_console();
    asynchronous_console(const asynchronous_console&) = delete;
    asynchronous_console& operator=(const asynchronous_console&) = delete;

    // Writes what is queued (waiting at most `patience` for a blocked output)
    // and goes back to writing directly. Returns the lines lost.
    std::uint64_t finish(std::chrono::milliseconds patience = std::chrono::seconds(5));

  private:
    std::unique_ptr<console_writer> writer_;
};

} // namespace tallowick::console
