#include "console/console.h"

#include "console/console_text.h"
#include "console/console_writer.h"
#include "platform/console.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tallowick::console {
namespace {
std::string whole_line(std::string_view text) {
    std::string line = console_safe(text);
    line.push_back('\n');
    return line;
}

// Below the stream: a writer's thread must not hold the stream's lock while
// blocked, or the exit's flush of the stream would wait for it. False when the
// output failed (a pipe whose reader has gone).
bool write_descriptor(std::FILE* stream, int descriptor, std::string_view bytes) {
    if (platform::write_to_console(stream, bytes))
        return true;
    while (!bytes.empty()) {
#ifdef _WIN32
        const int written = _write(descriptor, bytes.data(), static_cast<unsigned>(bytes.size()));
#else
        const auto written = ::write(descriptor, bytes.data(), bytes.size());
#endif
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool write_standard_output(std::string_view bytes) {
    return write_descriptor(stdout, 1, bytes);
}

bool write_standard_error(std::string_view bytes) {
    return write_descriptor(stderr, 2, bytes);
}

void write_whole(std::FILE* stream, std::string_view text, bool flush) {
    const std::string line = whole_line(text);
    if (platform::write_to_console(stream, line))
        return;
    // One fwrite holds the stream's lock for the whole line.
    bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size();
    if (flush)
        written = std::fflush(stream) == 0 && written;
    if (!written)
        count_lines_dropped(1);
}

// The writers lines go to while an asynchronous_console lives. Held while a
// line is queued (which never waits), so that no thread still queues on a
// writer being finished: the simulated machine's player, for one, may say
// something at any time.
std::mutex installed_mutex;
console_writer* installed_writer = nullptr;
console_writer* installed_error_writer = nullptr;

// Queues `text` on `writer` when one is installed; false when none is.
bool queue_on(console_writer* const& writer, std::string_view text) {
    const std::lock_guard lock(installed_mutex);
    if (writer == nullptr)
        return false;
    writer->write(whole_line(text));
    return true;
}

void install(console_writer*& slot, console_writer* writer) {
    const std::lock_guard lock(installed_mutex);
    slot = writer;
}

// Standard error's own notices go behind its other lines.
void queue_error_notice(std::string_view line) {
    queue_on(installed_error_writer, line);
}

// Where a service points its lines (console.h).
std::atomic<error_line_destination> error_destination{nullptr};
std::atomic<bool> output_discarded{false};
} // namespace

void redirect_error_lines(error_line_destination destination) {
    error_destination.store(destination);
}

void discard_output_lines(bool discarded) {
    output_discarded.store(discarded);
}

void write_line(std::string_view text, bool flush) {
    if (output_discarded.load())
        return;
    if (!queue_on(installed_writer, text))
        write_whole(stdout, text, flush);
}

void write_error_line(std::string_view text) {
    if (const error_line_destination destination = error_destination.load()) {
        destination(console_safe(text));
        return;
    }
    if (!queue_on(installed_error_writer, text))
        write_whole(stderr, text, true);
}

asynchronous_console::asynchronous_console()
    : error_writer_(std::make_unique<console_writer>(write_standard_error, queue_error_notice,
                                                     console_writer::default_capacity / 4, "standard error")),
      writer_(std::make_unique<console_writer>(write_standard_output, write_error_line)) {
    // What the streams hold comes first.
    std::fflush(stdout);
    std::fflush(stderr);
    install(installed_error_writer, error_writer_.get());
    install(installed_writer, writer_.get());
}

asynchronous_console::~asynchronous_console() {
    finish();
}

std::uint64_t asynchronous_console::finish(std::chrono::milliseconds patience,
                                           const std::function<void()>& last_error_lines) {
    if (!writer_)
        return 0;
    const auto deadline = std::chrono::steady_clock::now() + patience;
    // Standard error's last lines get a share of their own, so that a blocked
    // standard output cannot take all of the time from them.
    const auto output_deadline = deadline - patience / error_share;
    install(installed_writer, nullptr);
    std::uint64_t dropped = writer_->finish_by(output_deadline);
    writer_.reset();
    if (last_error_lines)
        last_error_lines();
    install(installed_error_writer, nullptr);
    dropped += error_writer_->finish_by(deadline);
    error_writer_.reset();
    return dropped;
}

} // namespace tallowick::console
