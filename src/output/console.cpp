#include "output/console.h"

#include "output/console_text.h"
#include "platform/console.h"

#include <cstdio>
#include <string>

namespace tallowick {
namespace {
void write_whole(std::FILE* stream, std::string_view text, bool flush) {
    std::string line = console_safe(text);
    line.push_back('\n');
    if (platform::write_to_console(stream, line))
        return;
    // One fwrite holds the stream's lock for the whole line.
    std::fwrite(line.data(), 1, line.size(), stream);
    if (flush)
        std::fflush(stream);
}
} // namespace

void write_line(std::string_view text, bool flush) { write_whole(stdout, text, flush); }

void write_error_line(std::string_view text) { write_whole(stderr, text, true); }

} // namespace tallowick
