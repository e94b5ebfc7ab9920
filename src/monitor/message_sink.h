#pragma once

#include "monitor/record_time.h"

#include <rapidjson/document.h>

#include <cstddef>

namespace tallowick::monitor {

// The kinds of message the handlers build.
enum class message_kind : std::size_t { file_system, process_started, process_ended };
inline constexpr std::size_t message_kinds = 3;

// Where the handlers hand each finished message: the collector's datagrams in
// the program, a record in the tests. Called from any worker thread at once.
// `when` is the time stamp of the record the message reports. The sink may add
// members of its own after the handler's; the handler discards the message.
class message_sink {
  public:
    virtual void send(rapidjson::Document& message, message_kind kind, record_time when) = 0;

  protected:
    message_sink() = default;
    message_sink(const message_sink&) = default;
    message_sink& operator=(const message_sink&) = default;
    ~message_sink() = default;
};

} // namespace tallowick::monitor
