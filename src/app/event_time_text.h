#pragma once

#include <cstdint>
#include <string>

namespace tallowick::app {

// A FILETIME (100 ns steps since 1601-01-01 UTC) as the envelope's
// "Event_Time": "YYYY-MM-DDTHH:MM:SS.fffffffZ", all seven digits of the
// fraction kept. A time before 1601 (no record has one) is written as 1601.
std::string event_time_text(std::int64_t filetime);

} // namespace tallowick::app
