#pragma once

#include "platform/sdk/etw_types.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace tallowick::platform::simulated {

// The buffer settings of a session's properties block, with Windows' choices
// where the block leaves them 0 and its limits applied.
struct buffer_settings {
    std::uint32_t buffer_size_kb = 0;
    std::uint32_t minimum_buffers = 0;
    std::uint32_t maximum_buffers = 0;
    std::uint32_t flush_timer_s = 0;

    // `processors`: the machine's, for the two-buffers-per-processor minimum.
    static buffer_settings of(const EVENT_TRACE_PROPERTIES& properties, std::uint32_t processors);
};

// One buffer of a session: whole records, each an EVENT_RECORD followed by its
// payload, as the session wrote them. Handed to every consumer of the session
// and back to the pool when the last has read it.
struct trace_buffer {
    std::vector<std::byte> bytes;
    std::size_t used = 0;
    std::uint32_t records = 0;
    std::size_t readers = 0; // consumers still to read it

    // Calls `visit(record)` for each record in the order written; the record's
    // UserData points into the buffer.
    template <typename Visit> void for_each_record(Visit&& visit) const;
};

// The lost-event counters and buffer counts a query of the session reports.
struct buffer_statistics {
    std::uint32_t number_of_buffers = 0; // allocated
    std::uint32_t free_buffers = 0;
    std::uint32_t events_lost = 0;
    std::uint32_t buffers_written = 0;
    std::uint32_t realtime_buffers_lost = 0;
};

// A real-time session's buffer pool, as ETW keeps it: records are written into
// the current buffer without waiting for anyone; a full buffer goes to the
// consumers and a fresh one is taken from the pool, which grows from the
// minimum up to the maximum number of buffers. A record that finds no room —
// every buffer full or still unread, or larger than a buffer — is lost and
// counted. Not locked: the tracing realisation serialises every call.
class realtime_buffers {
  public:
    explicit realtime_buffers(const buffer_settings& settings);

    // Writes the record; false when it was lost. `full` receives the buffer the
    // write filled, if any, for the consumers.
    bool write(const EVENT_RECORD& record, std::shared_ptr<trace_buffer>& full);
    // The current buffer if it holds records, for the consumers (a flush).
    std::shared_ptr<trace_buffer> flush();
    // A handed-out buffer that a consumer will not read (none was there, or it
    // stopped reading): counted as lost in transit to the consumers.
    void lost_in_transit(const std::shared_ptr<trace_buffer>& buffer);
    // A consumer has read the buffer; the last one gives it back to the pool.
    void read(const std::shared_ptr<trace_buffer>& buffer);

    const buffer_settings& settings() const { return settings_; }
    buffer_statistics statistics() const;

  private:
    std::shared_ptr<trace_buffer> take_free();
    std::shared_ptr<trace_buffer> hand_out();

    buffer_settings settings_;
    std::size_t buffer_bytes_;
    std::vector<std::shared_ptr<trace_buffer>> free_;
    std::shared_ptr<trace_buffer> current_;
    std::uint32_t allocated_ = 0;
    std::uint32_t events_lost_ = 0;
    std::uint32_t buffers_written_ = 0;
    std::uint32_t realtime_buffers_lost_ = 0;
};

// Where a record's payload starts after its EVENT_RECORD in a buffer.
inline constexpr std::size_t buffered_record_header = sizeof(EVENT_RECORD);
inline constexpr std::size_t buffered_record_alignment = 8;

template <typename Visit> void trace_buffer::for_each_record(Visit&& visit) const {
    std::size_t offset = 0;
    for (std::uint32_t i = 0; i < records; ++i) {
        EVENT_RECORD record;
        std::memcpy(&record, bytes.data() + offset, sizeof record);
        record.UserData = record.UserDataLength == 0
                              ? nullptr
                              : const_cast<std::byte*>(bytes.data() + offset + buffered_record_header);
        visit(record);
        const std::size_t size = buffered_record_header + record.UserDataLength;
        offset +=
            (size + buffered_record_alignment - 1) / buffered_record_alignment * buffered_record_alignment;
    }
}

} // namespace tallowick::platform::simulated
