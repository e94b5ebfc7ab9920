#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallowick::testing {

struct datagram {
    std::string payload;
    std::uint16_t source_port = 0;
};

// Stands in for the collector: bound to 127.0.0.1:13251 with a large receive
// buffer, so that bursts are not dropped. Tests that use it must hold the
// ctest resource lock udp13251.
class udp_receiver {
  public:
    static constexpr std::chrono::seconds generous{10};

    udp_receiver();

    // The next datagram, or nothing when none comes within `timeout`.
    std::optional<datagram> receive_datagram(std::chrono::milliseconds timeout = generous);
    std::optional<std::string> receive(std::chrono::milliseconds timeout = generous);

    // Every datagram already sent to the port: sends a marker datagram from a
    // socket of its own and returns what arrives before it, so a test can
    // check that nothing (more) was sent without waiting for a time. Throws
    // when the marker does not come back within `timeout`.
    std::vector<std::string> receive_pending(std::chrono::milliseconds timeout = generous);

  private:
    boost::asio::io_context context;
    boost::asio::ip::udp::socket socket;
    std::vector<char> buffer_ = std::vector<char>(65536); // the largest datagram
    std::uint64_t markers_sent = 0;
};

} // namespace tallowick::testing
