#include "output/send_event.h"

#include "console/console.h"
#include "output/collector_socket.h"
#include "output/datagram_fit.h"

#include <boost/asio/error.hpp>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>
#include <string_view>

namespace tallowick::output {
namespace {
namespace asio = boost::asio;
constexpr std::size_t preview_bytes = 160;

void serialise(const rapidjson::Document& message, rapidjson::StringBuffer& text) {
    rapidjson::Writer<rapidjson::StringBuffer> writer(text);
    message.Accept(writer);
}

// An ICMP port-unreachable from an earlier datagram may surface on a later
// send; either way it only says that no collector listens.
bool nobody_listening(const boost::system::error_code& error) {
    return error == asio::error::connection_refused || error == asio::error::connection_reset;
}

std::string_view preview(std::string_view text) {
    if (text.size() <= preview_bytes)
        return text;
    std::size_t length = preview_bytes;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return text.substr(0, length);
}

std::string shortened_line(const std::vector<shortened_value>& cuts, std::string_view text) {
    std::string line = "MESSAGE SHORTENED TO FIT ONE DATAGRAM (";
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        if (i > 0)
            line += ", ";
        line += cuts[i].key + " " + std::to_string(cuts[i].old_bytes) + " -> " +
                std::to_string(cuts[i].new_bytes) + " bytes";
    }
    line += "): ";
    line += preview(text);
    if (text.size() > preview_bytes)
        line += "...";
    return line;
}
} // namespace

bool send_event(const rapidjson::Document& message) {
    rapidjson::StringBuffer text;
    serialise(message, text);
    rapidjson::StringBuffer shortened_text;
    std::string_view payload(text.GetString(), text.GetSize());
    if (payload.size() > max_datagram_payload) {
        rapidjson::Document copy;
        copy.CopyFrom(message, copy.GetAllocator());
        const auto cuts = shorten_to_fit(copy, payload.size(), max_datagram_payload);
        if (!cuts) {
            counters().send_failures.fetch_add(1);
            console::write_line(
                "MESSAGE TOO LARGE FOR ONE DATAGRAM, NOT SENT: " + std::to_string(payload.size()) +
                " bytes: " + std::string(preview(payload)) + "...");
            return false;
        }
        serialise(copy, shortened_text);
        payload = std::string_view(shortened_text.GetString(), shortened_text.GetSize());
        counters().messages_shortened.fetch_add(1);
        console::write_line(shortened_line(*cuts, payload));
    }

    const boost::system::error_code error = send_to_collector(payload);
    const bool sent = !error || nobody_listening(error);
    if (!sent) {
        counters().send_failures.fetch_add(1);
        console::write_line("UDP SEND ERROR: " + error.message());
    }
    return sent;
}

} // namespace tallowick::output
