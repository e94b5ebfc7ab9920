// The reference collector: receives the agent's datagrams on 127.0.0.1:13251,
// checks each against the message kinds' schemas, prints it as it arrives (an
// invalid one only escaped, on standard error), follows each run's sequence
// and sums them up by Event_Type and Operation, with what each run is
// missing, at the end.
#include "collector/message_check.h"
#include "collector/run_tracker.h"
#include "collector/safe_text.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/program_options.hpp>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <array>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

namespace asio = boost::asio;
namespace po = boost::program_options;
using asio::ip::udp;

namespace {

#ifdef _WIN32
// Without it another program could bind the same port and take our datagrams.
using exclusive_address_use = asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
#endif

// An invalid datagram in the --jsonl file: a record of its own, never the bytes
// themselves (which may be a well-formed event the check rejected, or several lines).
std::string invalid_record(std::string_view datagram, std::string_view problem) {
    rapidjson::StringBuffer text;
    rapidjson::Writer<rapidjson::StringBuffer> writer(text);
    const std::string bytes = tallowick::collector::escaped_bytes(datagram);
    const std::string why = tallowick::collector::escaped_bytes(problem);
    writer.StartObject();
    writer.Key("Invalid_Datagram");
    writer.String(bytes.data(), static_cast<rapidjson::SizeType>(bytes.size()));
    writer.Key("Problem");
    writer.String(why.data(), static_cast<rapidjson::SizeType>(why.size()));
    writer.EndObject();
    return {text.GetString(), text.GetSize()};
}

struct settings {
    std::string address = "127.0.0.1";
    unsigned short port = 13251;
    bool indent = false;
    bool quiet = false;
    std::uint64_t count = 0;              // stop after this many datagrams; 0 = no limit (none given)
    double timeout_seconds = 0;           // stop after this long; 0 = no limit (none given)
    int receive_buffer = 8 * 1024 * 1024; // asked of the kernel, which caps it (net.core.rmem_max)
    std::string jsonl_path;
};

// Only a checked message is indented: it is flat, so the writer's recursion
// stays shallow.
std::string indented(const std::string& datagram) {
    rapidjson::Document document;
    document.Parse(datagram.data(), datagram.size());
    if (document.HasParseError())
        return datagram;
    rapidjson::StringBuffer text;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(text);
    document.Accept(writer);
    return {text.GetString(), text.GetSize()};
}

class collector {
  public:
    collector(asio::io_context& io, const settings& options)
        : io_(io), options_(options), socket_(io), signals_(io, SIGINT, SIGTERM), timer_(io) {
        const udp::endpoint endpoint(asio::ip::make_address(options.address), options.port);
        socket_.open(endpoint.protocol());
        // A burst must not overflow the receive queue before we read it.
        socket_.set_option(asio::socket_base::receive_buffer_size(options.receive_buffer));
#ifdef _WIN32
        socket_.set_option(exclusive_address_use(true));
#endif
        socket_.bind(endpoint);
        socket_.get_option(granted_buffer_);
        if (!options.jsonl_path.empty()) {
            jsonl_.open(options.jsonl_path, std::ios::app | std::ios::binary);
            if (!jsonl_)
                throw std::runtime_error("cannot open " + options.jsonl_path);
        }
    }

    void run() {
        std::cerr << "listening on " << options_.address << ':' << options_.port << " (receive buffer "
                  << granted_buffer_.value() << " bytes)" << std::endl;
        signals_.async_wait([this](const boost::system::error_code& error, int) {
            if (!error)
                io_.stop();
        });
        if (options_.timeout_seconds > 0) {
            timer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(options_.timeout_seconds)));
            timer_.async_wait([this](const boost::system::error_code& error) {
                if (!error)
                    io_.stop();
            });
        }
        receive();
        io_.run();
        summarise();
    }

    int exit_status() const {
        return invalid_ == 0 ? 0 : 1;
    }

  private:
    void receive() {
        socket_.async_receive_from(asio::buffer(buffer_), sender_,
                                   [this](const boost::system::error_code& error, std::size_t size) {
                                       if (!error)
                                           handle(std::string(buffer_.data(), size));
                                       if (options_.count != 0 && received_ >= options_.count) {
                                           io_.stop();
                                           return;
                                       }
                                       receive();
                                   });
    }

    void handle(const std::string& datagram) {
        ++received_;
        using namespace tallowick::collector;
        const check_result checked = check_message(datagram);
        if (!checked.ok()) {
            ++invalid_;
            std::cerr << "INVALID DATAGRAM (" << escaped_bytes(checked.problem)
                      << "): " << escaped_bytes(datagram) << std::endl;
        } else if (!options_.quiet) {
            std::cout << shown_message(options_.indent ? indented(datagram) : datagram) << '\n' << std::flush;
        }
        ++by_kind_[{escaped_bytes(checked.kind.event_type), escaped_bytes(checked.kind.operation)}];
        runs_.take(checked);
        if (jsonl_.is_open())
            jsonl_ << (checked.ok() ? datagram : invalid_record(datagram, checked.problem)) << '\n'
                   << std::flush;
    }

    void summarise() const {
        std::cout << "received " << received_ << " datagrams, " << invalid_ << " invalid\n";
        for (const auto& [kind, count] : by_kind_)
            std::cout << "  " << (kind.first.empty() ? "?" : kind.first) << " / "
                      << (kind.second.empty() ? "?" : kind.second) << ": " << count << '\n';
        for (const std::string& line : runs_.summary())
            std::cout << line << '\n';
        std::cout << std::flush;
    }

    asio::io_context& io_;
    const settings& options_;
    udp::socket socket_;
    asio::signal_set signals_;
    asio::steady_timer timer_;
    udp::endpoint sender_;
    asio::socket_base::receive_buffer_size granted_buffer_;
    std::array<char, 65536> buffer_{};
    std::uint64_t received_ = 0;
    std::uint64_t invalid_ = 0;
    std::map<std::pair<std::string, std::string>, std::uint64_t> by_kind_;
    tallowick::collector::run_tracker runs_;
    std::ofstream jsonl_;
};

// A number option: from 1 to `most`, read whole. The option parser would take
// "-1" as a huge count or port 65535, and a count or timeout of 0 as no limit.
template <typename Number>
Number limit_value(const char* option, const std::string& text, Number most, const char* most_text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !(value >= 1 && value <= most))
        throw std::invalid_argument(std::string("--") + option + " needs a number from 1 to " + most_text +
                                    ", not \"" + text + "\"");
    return value;
}

} // namespace

int main(int argc, char** argv) {
    settings options;
    po::options_description table("tallowick-collector options");
    table.add_options()("help", "show this help")("indent", po::bool_switch(&options.indent),
                                                  "print each datagram as indented JSON")(
        "quiet", po::bool_switch(&options.quiet), "print only invalid datagrams and the summary")(
        "count", po::value<std::string>(), "stop after N datagrams (N at least 1)")(
        "timeout", po::value<std::string>(), "stop after S seconds (S at least 1)")(
        "jsonl", po::value(&options.jsonl_path),
        "append every valid datagram to this JSON-lines file (an invalid one as an escaped record)")(
        "port", po::value<std::string>(), "UDP port to listen on (default 13251)")(
        "receive-buffer", po::value<std::string>(),
        "socket receive buffer to ask for, in bytes (default 8 MiB; the system may grant less)");
    try {
        po::variables_map values;
        po::store(po::parse_command_line(argc, argv, table), values);
        po::notify(values);
        if (values.count("help") != 0) {
            std::cout << table << '\n';
            return 0;
        }
        if (values.count("count") != 0)
            options.count = limit_value("count", values["count"].as<std::string>(),
                                        std::numeric_limits<std::uint64_t>::max(), "18446744073709551615");
        if (values.count("timeout") != 0)
            // A longer wait than the steady clock's nanoseconds can count would overflow.
            options.timeout_seconds =
                limit_value("timeout", values["timeout"].as<std::string>(), 1e9, "1000000000");
        if (values.count("port") != 0)
            options.port =
                limit_value<unsigned short>("port", values["port"].as<std::string>(), 65535, "65535");
        if (values.count("receive-buffer") != 0)
            options.receive_buffer = limit_value("receive-buffer", values["receive-buffer"].as<std::string>(),
                                                 std::numeric_limits<int>::max(), "2147483647");
        asio::io_context io;
        collector receiver(io, options);
        receiver.run();
        return receiver.exit_status();
    } catch (const std::exception& error) {
        std::cerr << "tallowick-collector: " << error.what() << std::endl;
        return 2;
    }
}
