#pragma once

#include <boost/system/error_code.hpp>

#include <string_view>

namespace tallowick::output {

// Sends one datagram to the collector from the calling thread's own UDP
// socket: opened on the thread's first send and kept, so that a worker pays one
// system call per message rather than three (and, on hosts that audit the
// filtering platform, no bind and connect record per message). A socket whose
// send failed is closed; the thread's next send opens another. An ICMP "port
// unreachable" from an earlier datagram never fails a later one. Failing to
// open the socket throws boost::system::system_error.
boost::system::error_code send_to_collector(std::string_view payload);

} // namespace tallowick::output
