#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallowick::collector {

// What a datagram was found to be.
struct message_kind {
    std::string event_type; // "FILESYSTEM", "PROCESS", "AGENT", or empty when unreadable
    std::string operation;  // the "Operation" value, or empty
};

// The envelope members of a message sent with --envelope.
struct envelope_seen {
    std::string run_id;
    std::string host;
    std::uint64_t sequence = 0;
    bool shortened = false;
};

// What the agent's STOPPED message says of the datagrams before it.
struct stopped_figures {
    std::uint64_t datagrams_sent = 0;
    std::uint64_t send_failures = 0;
};

struct check_result {
    message_kind kind;
    std::string problem; // empty when the datagram is a well-formed message
    std::optional<envelope_seen> envelope;
    std::optional<stopped_figures> stopped;
    bool ok() const { return problem.empty(); }
};

// Checks one datagram against the message kinds the agent sends: valid UTF-8
// JSON in compact form, a flat object valid against its kind's schema
// (docs/schema, checked with RapidJSON's schema validator), with its members in
// the order the schema lists them, and the pairings of event id, Operation and
// Path_Type that a schema cannot say.
check_result check_message(std::string_view datagram);

} // namespace tallowick::collector
