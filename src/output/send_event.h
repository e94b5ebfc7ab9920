#pragma once

#include "output/run_counters.h"

#include <rapidjson/document.h>

#include <cstdint>

namespace tallowick::output {

inline constexpr const char* collector_address = "127.0.0.1";
inline constexpr std::uint16_t collector_port = 13251;

// Sends `message` as compact JSON in one UDP datagram to the collector, from
// the calling thread's socket (collector_socket.h). Nobody listening is not an error. A message too long for
// one datagram has its longest string values shortened until it fits, with a
// console line saying so; any other failed send prints a console line and is
// not retried. Failing to create the socket throws
// boost::system::system_error. Messages shortened and not sent are counted in
// the run's counters. Returns whether the datagram went out.
bool send_event(const rapidjson::Document& message);

} // namespace tallowick::output
