#include "app/datagram_sink.h"

#include "output/send_event.h"

namespace tallowick {

void datagram_sink::send(const rapidjson::Document& message, message_kind kind) {
    if (send_event(message))
        sent_.count(kind);
}

} // namespace tallowick
