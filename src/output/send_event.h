#pragma once

#include "output/datagram_fit.h"

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>

namespace tallowick::output {

inline constexpr const char* collector_address = "127.0.0.1";
inline constexpr std::uint16_t collector_port = 13251;

// What became of one message; the caller counts it.
enum class send_outcome {
    sent,      // as it was
    shortened, // sent with its longest values cut to fit
    too_large, // could not be made to fit: not sent
    failed,    // the send failed: not sent
};

inline bool went_out(send_outcome outcome) {
    return outcome == send_outcome::sent || outcome == send_outcome::shortened;
}

struct datagram_limits {
    // The largest datagram to send: receivers that cut longer ones lose their end.
    std::size_t max_payload = max_datagram_payload;
    // Members at the end of a message that are never cut (the envelope's).
    std::size_t kept_members = 0;
    // Whether a shortened message ends with "Shortened":true.
    bool mark_shortened = false;
};

// Sends `message` as compact JSON in one UDP datagram to the collector, from
// the calling thread's socket (collector_socket.h). Nobody listening is not an
// error. A message longer than the limit has its longest string values
// shortened until it fits, with a console line saying so; any other failed send
// prints a console line and is not retried. Failing to create the socket throws
// boost::system::system_error.
send_outcome send_event(const rapidjson::Document& message, const datagram_limits& limits = {});

} // namespace tallowick::output
