#include "console/console.h"

#include "console/console_text.h"
#include "console/console_writer.h"
#include "platform/console.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
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

void write_whole(std::FILE* stream, std::string_view text, bool flush) {
    const std::string line = whole_line(text);
    if (platform::write_to_console(stream, line))
        return;
    // One fwrite holds the stream's lock for the whole line.
    std::fwrite(line.data(), 1, line.size(), stream);
    if (flush)
        std::fflush(stream);
}

// Standard output below the stream: the writer's thread must not hold the
// stream's lock while blocked, or the exit's flush of the stream would wait for it.
bool write_standard_output(std::string_view bytes) {
    if (platform::write_to_console(stdout, bytes))
        return true;
    while (!bytes.empty()) {
#ifdef _WIN32
        const int written = _write(1, bytes.data(), static_cast<unsigned>(bytes.size()));
#else
        const auto written = ::write(1, bytes.data(), bytes.size());
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

std::atomic<console_writer*> installed_writer{nullptr};
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
    if (console_writer* writer = installed_writer.load()) {
        writer->write(whole_line(text));
        return;
    }
    write_whole(stdout, text, flush);
}

void write_error_line(std::string_view text) {
    if (const error_line_destination destination = error_destination.load()) {
        destination(console_safe(text));
        return;
    }
    write_whole(stderr, text, true);
}

asynchronous_console::asynchronous_console()
    : writer_(std::make_unique<console_writer>(write_standard_output, write_error_line)) {
    std::fflush(stdout); // what the stream holds comes first
    installed_writer.store(writer_.get());
}

asynchronous_console::~asynchronous_console() {
    finish();
}

std::uint64_t asynchronous_console::finish(std::chrono::milliseconds patience) {
    if (!writer_)
        return 0;
    installed_writer.store(nullptr);
    const std::uint64_t dropped = writer_->finish(patience);
    writer_.reset();
    return dropped;
}

} // namespace tallowick::console
