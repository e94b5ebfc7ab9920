#include "app/datagram_sink.h"

#include "output/send_event.h"

namespace tallowick::app {

void datagram_sink::send(const rapidjson::Document& message, monitor::message_kind kind) {
    if (output::send_event(message))
        sent_.count(kind);
}

} // namespace tallowick::app
