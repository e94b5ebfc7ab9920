// One datagram per event: send_event (from the sending thread's socket) beside
// the floor, a raw sendto of the same bytes on one reused socket, what a socket
// per message would add, and the cost of building and serialising each kind of
// message.
#include "monitor/messages.h"
#include "output/send_event.h"

#include <benchmark/benchmark.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#ifndef _WIN32
#include <sys/socket.h>
#endif

#include <optional>
#include <string>

namespace {
namespace asio = boost::asio;

// A file-system message of the usual size, about 250 bytes on the wire.
rapidjson::Document file_system() {
    return tallowick::monitor::file_system_message(
        12, 4242,
        {"READ + WRITE", "C:\\Users\\alice\\Documents\\Quarterly reports\\2024\\Q3 revenue by region.xlsx",
         "FILE", "C:\\Program Files\\Microsoft Office\\root\\Office16\\EXCEL.EXE", "alice"});
}

rapidjson::Document process_started() {
    return tallowick::monitor::process_started_message(
        {"c:\\windows\\explorer.exe", "notepad.exe", 4242, 1234,
         "\"C:\\Windows\\System32\\notepad.exe\" C:\\Users\\alice\\Documents\\notes.txt", "alice",
         "S-1-5-21-3623811015-3361044348-30300820-1013"});
}

rapidjson::Document process_ended() {
    return tallowick::monitor::process_ended_message("notepad.exe", 4242);
}

std::string serialise(const rapidjson::Document& message) {
    rapidjson::StringBuffer text;
    rapidjson::Writer<rapidjson::StringBuffer> writer(text);
    message.Accept(writer);
    return {text.GetString(), text.GetSize()};
}

// A collector that never reads: datagrams are delivered (or dropped once its
// buffer is full) as they would be with a slow collector, the same for every
// variant in the run.
struct sink {
    asio::io_context context;
    std::optional<asio::ip::udp::socket> socket;
    sink() {
        try {
            socket.emplace(context, asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"),
                                                            tallowick::output::collector_port));
        } catch (const boost::system::system_error&) {
            // Something else listens already; it will do.
        }
    }
};
sink& collector() {
    static sink instance;
    return instance;
}

void send_event_prebuilt(benchmark::State& state) {
    collector();
    const rapidjson::Document message = file_system();
    for (auto _ : state)
        tallowick::output::send_event(message);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * serialise(message).size()));
}
BENCHMARK(send_event_prebuilt);

void send_event_with_build(benchmark::State& state) {
    collector();
    for (auto _ : state)
        tallowick::output::send_event(file_system());
}
BENCHMARK(send_event_with_build);

void raw_sendto_reused_socket(benchmark::State& state) {
    collector();
    const std::string payload = serialise(file_system());
    asio::io_context context;
    asio::ip::udp::socket socket(context, asio::ip::udp::v4());
    const asio::ip::udp::endpoint destination(asio::ip::make_address("127.0.0.1"),
                                              tallowick::output::collector_port);
#ifndef _WIN32
    for (auto _ : state)
        benchmark::DoNotOptimize(::sendto(socket.native_handle(), payload.data(), payload.size(), 0,
                                          destination.data(), static_cast<socklen_t>(destination.size())));
#else
    boost::system::error_code error;
    for (auto _ : state)
        socket.send_to(asio::buffer(payload), destination, 0, error);
#endif
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * payload.size()));
}
BENCHMARK(raw_sendto_reused_socket);

// What a context and a socket per message would add to each send.
void context_and_socket_open_close(benchmark::State& state) {
    for (auto _ : state) {
        asio::io_context context(1);
        asio::ip::udp::socket socket(context, asio::ip::udp::v4());
        socket.close();
    }
}
BENCHMARK(context_and_socket_open_close);

template <rapidjson::Document (*build)()> void build_and_serialise(benchmark::State& state) {
    for (auto _ : state) {
        const rapidjson::Document message = build();
        rapidjson::StringBuffer text;
        rapidjson::Writer<rapidjson::StringBuffer> writer(text);
        message.Accept(writer);
        benchmark::DoNotOptimize(text.GetString());
    }
}
BENCHMARK_TEMPLATE(build_and_serialise, file_system)->Name("build_and_serialise/file_system");
BENCHMARK_TEMPLATE(build_and_serialise, process_started)->Name("build_and_serialise/process_started");
BENCHMARK_TEMPLATE(build_and_serialise, process_ended)->Name("build_and_serialise/process_ended");

} // namespace

BENCHMARK_MAIN();
