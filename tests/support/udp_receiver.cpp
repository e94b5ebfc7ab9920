#include "support/udp_receiver.h"

#include <algorithm>
#include <stdexcept>

#ifdef __linux__
#include <sys/socket.h>
#endif

namespace tallowick::testing {
namespace asio = boost::asio;

namespace {
constexpr int receive_buffer_bytes = 8 * 1024 * 1024;
constexpr std::uint16_t collector_port = 13251;
} // namespace

udp_receiver::udp_receiver() : socket(context) {
    socket.open(asio::ip::udp::v4());
    socket.set_option(asio::socket_base::receive_buffer_size(receive_buffer_bytes));
#ifdef __linux__
    // Above rmem_max only with privilege; the plain size above stands otherwise.
    const int size = receive_buffer_bytes;
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
#endif
    socket.bind({asio::ip::make_address("127.0.0.1"), collector_port});
    socket.non_blocking(true); // for the immediate take in receive_datagram; waits stay asynchronous
}

std::optional<datagram> udp_receiver::receive_datagram(std::chrono::milliseconds timeout) {
    asio::ip::udp::endpoint sender;
    // A datagram already waiting is taken at once, in one system call where the
    // wait costs four, into a buffer kept for it: the benchmarks share two cores
    // with this collector, whose costs would otherwise count against the agent.
    boost::system::error_code error;
    const std::size_t waiting = socket.receive_from(asio::buffer(buffer_), sender, 0, error);
    if (!error)
        return datagram{std::string(buffer_.data(), waiting), sender.port()};
    std::optional<std::size_t> received;
    socket.async_receive_from(asio::buffer(buffer_), sender,
                              [&received](const boost::system::error_code& error, std::size_t size) {
                                  if (!error)
                                      received = size;
                              });
    context.restart();
    context.run_for(timeout);
    if (!context.stopped()) {
        socket.cancel();
        context.restart();
        context.run();
    }
    if (!received)
        return std::nullopt;
    return datagram{std::string(buffer_.data(), *received), sender.port()};
}

std::optional<std::string> udp_receiver::receive(std::chrono::milliseconds timeout) {
    auto received = receive_datagram(timeout);
    if (!received)
        return std::nullopt;
    return std::move(received->payload);
}

std::vector<std::string> udp_receiver::receive_pending(std::chrono::milliseconds timeout) {
    const std::string marker = "\x01test marker " + std::to_string(++markers_sent);
    {
        asio::io_context sender_context;
        asio::ip::udp::socket sender(sender_context, asio::ip::udp::v4());
        sender.send_to(asio::buffer(marker), socket.local_endpoint());
    }
    std::vector<std::string> pending;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        auto received = receive(std::max(left, std::chrono::milliseconds(1)));
        if (!received)
            throw std::runtime_error("the test marker datagram never came back");
        if (*received == marker)
            return pending;
        pending.push_back(std::move(*received));
    }
}

} // namespace tallowick::testing
