#pragma once

#include <string>
#include <string_view>

namespace tallowick::collector {

// What a datagram was found to be.
struct message_kind {
    std::string event_type; // "FILESYSTEM", "PROCESS", or empty when unreadable
    std::string operation;  // the "Operation" value, or empty
};

struct check_result {
    message_kind kind;
    std::string problem; // empty when the datagram is a well-formed message
    bool ok() const { return problem.empty(); }
};

// Checks one datagram against the three message kinds the agent sends: valid
// UTF-8 JSON in compact form, a flat object with the kind's members in wire
// order, their JSON types and fixed values.
check_result check_message(std::string_view datagram);

} // namespace tallowick::collector
