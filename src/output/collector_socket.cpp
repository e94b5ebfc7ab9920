#include "output/collector_socket.h"

#include "output/send_event.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <map>
#include <memory>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>

#include <mswsock.h>
#endif

namespace tallowick::output {
namespace {
namespace asio = boost::asio;
using asio::ip::udp;

// One context for the process (safe from any thread; nothing runs it) and the
// sockets of the threads that send, by thread: owned here, not by the threads,
// since the Windows runtime ends a thread-local object after parts of its
// storage are gone. A thread id taken over by a new thread takes over its
// socket too, so sockets do not pile up with threads that come and go.
struct network {
    asio::io_context context;
    std::mutex mutex;
    std::map<std::thread::id, std::unique_ptr<udp::socket>> sockets; // ended before the context
};
network& shared_network() {
    static network instance;
    return instance;
}

const udp::endpoint& collector() {
    static const udp::endpoint endpoint(asio::ip::make_address(collector_address), collector_port);
    return endpoint;
}

// Opens `socket` (again, after a failed send).
void open(udp::socket& socket) {
    socket.open(udp::v4());
#ifdef _WIN32
    // Without this, Windows fails a later send on the socket with WSAECONNRESET
    // after an earlier datagram found nobody listening.
    BOOL report = FALSE;
    DWORD returned = 0;
    if (WSAIoctl(socket.native_handle(), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned,
                 nullptr, nullptr) != 0) {
        const int error = WSAGetLastError();
        boost::system::error_code ignored;
        socket.close(ignored);
        throw boost::system::system_error(error, boost::system::system_category(),
                                          "WSAIoctl(SIO_UDP_CONNRESET)");
    }
#endif
}

udp::socket& socket_of_this_thread() {
    // A plain pointer: nothing to end when the thread ends.
    thread_local udp::socket* mine = nullptr;
    if (mine == nullptr) {
        network& shared = shared_network();
        const std::lock_guard lock(shared.mutex);
        std::unique_ptr<udp::socket>& slot = shared.sockets[std::this_thread::get_id()];
        if (!slot)
            slot = std::make_unique<udp::socket>(shared.context);
        mine = slot.get();
    }
    return *mine;
}
} // namespace

boost::system::error_code send_to_collector(std::string_view payload) {
    udp::socket& socket = socket_of_this_thread();
    if (!socket.is_open())
        open(socket);
    boost::system::error_code error;
    socket.send_to(asio::buffer(payload.data(), payload.size()), collector(), 0, error);
    if (error) {
        boost::system::error_code ignored;
        socket.close(ignored); // the next send opens it anew
    }
    return error;
}

} // namespace tallowick::output
