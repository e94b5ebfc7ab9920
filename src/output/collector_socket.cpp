#include "output/collector_socket.h"

#include "output/send_event.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <atomic>
#include <memory>

#ifdef _WIN32
#include <winsock2.h>

#include <mswsock.h>
#endif

namespace tallowick::output {
namespace {
namespace asio = boost::asio;

// One context for the process (safe from any thread; nothing runs it), made
// before any socket and gone after the last worker's.
std::atomic<bool> network_gone{false};
struct network {
    asio::io_context context;
    ~network() { network_gone.store(true); }
};
asio::io_context& network_context() {
    static network shared;
    return shared.context;
}

const asio::ip::udp::endpoint& collector() {
    static const asio::ip::udp::endpoint endpoint(asio::ip::make_address(collector_address), collector_port);
    return endpoint;
}

#ifdef _WIN32
// Without this, Windows fails a later send on the socket with WSAECONNRESET
// after an earlier datagram found nobody listening.
void stop_connection_reset_reports(asio::ip::udp::socket& socket) {
    BOOL report = FALSE;
    DWORD returned = 0;
    if (WSAIoctl(socket.native_handle(), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned,
                 nullptr, nullptr) != 0)
        throw boost::system::system_error(WSAGetLastError(), boost::system::system_category(),
                                          "WSAIoctl(SIO_UDP_CONNRESET)");
}
#endif

class thread_socket {
  public:
    thread_socket() = default;
    thread_socket(const thread_socket&) = delete;
    thread_socket& operator=(const thread_socket&) = delete;
    ~thread_socket() {
        // The main thread's sockets may be ended after the context on some
        // runtimes: then the process exit closes them instead.
        if (network_gone.load())
            static_cast<void>(socket_.release());
    }

    boost::system::error_code send(std::string_view payload) {
        if (!socket_)
            open();
        boost::system::error_code error;
        socket_->send_to(asio::buffer(payload.data(), payload.size()), collector(), 0, error);
        if (error) {
            boost::system::error_code ignored;
            socket_->close(ignored);
            socket_.reset();
        }
        return error;
    }

  private:
    void open() {
        auto socket = std::make_unique<asio::ip::udp::socket>(network_context(), asio::ip::udp::v4());
#ifdef _WIN32
        stop_connection_reset_reports(*socket);
#endif
        socket_ = std::move(socket);
    }

    std::unique_ptr<asio::ip::udp::socket> socket_;
};
} // namespace

boost::system::error_code send_to_collector(std::string_view payload) {
    thread_local thread_socket socket;
    return socket.send(payload);
}

} // namespace tallowick::output
