#include "platform/simulated/realtime_buffers.h"

#include <algorithm>

namespace tallowick::platform::simulated {
namespace {

// What Windows takes for a BufferSize of 0, and the range it accepts (KB).
constexpr std::uint32_t default_buffer_size_kb = 64;
constexpr std::uint32_t smallest_buffer_kb = 4;
constexpr std::uint32_t largest_buffer_kb = 16384;
// "Typically, this value is the minimum number of buffers plus twenty."
constexpr std::uint32_t default_extra_buffers = 20;

std::size_t padded(std::size_t size) {
    return (size + buffered_record_alignment - 1) / buffered_record_alignment * buffered_record_alignment;
}

} // namespace

buffer_settings buffer_settings::of(const EVENT_TRACE_PROPERTIES& properties, std::uint32_t processors) {
    // ULONG on Windows, 32 bits wide everywhere.
    const std::uint32_t size_kb = properties.BufferSize;
    const std::uint32_t minimum = properties.MinimumBuffers;
    const std::uint32_t maximum = properties.MaximumBuffers;
    buffer_settings settings;
    settings.buffer_size_kb =
        size_kb == 0 ? default_buffer_size_kb : std::clamp(size_kb, smallest_buffer_kb, largest_buffer_kb);
    // At least two buffers per processor, whatever was asked.
    settings.minimum_buffers = std::max(minimum, 2 * std::max(processors, std::uint32_t{1}));
    settings.maximum_buffers = maximum == 0 ? settings.minimum_buffers + default_extra_buffers
                                            : std::max(maximum, settings.minimum_buffers);
    settings.flush_timer_s = properties.FlushTimer;
    return settings;
}

realtime_buffers::realtime_buffers(const buffer_settings& settings)
    : settings_(settings), buffer_bytes_(std::size_t{settings.buffer_size_kb} * 1024),
      allocated_(settings.minimum_buffers) {
    // The minimum is the pool's from the start; its memory is taken on first use.
    for (std::uint32_t i = 0; i < settings.minimum_buffers; ++i)
        free_.push_back(std::make_shared<trace_buffer>());
}

std::shared_ptr<trace_buffer> realtime_buffers::take_free() {
    if (free_.empty()) {
        if (allocated_ >= settings_.maximum_buffers)
            return nullptr;
        ++allocated_;
        free_.push_back(std::make_shared<trace_buffer>());
    }
    std::shared_ptr<trace_buffer> buffer = std::move(free_.back());
    free_.pop_back();
    if (buffer->bytes.size() != buffer_bytes_)
        buffer->bytes.resize(buffer_bytes_);
    buffer->used = 0;
    buffer->records = 0;
    buffer->readers = 0;
    return buffer;
}

std::shared_ptr<trace_buffer> realtime_buffers::hand_out() {
    std::shared_ptr<trace_buffer> buffer = std::move(current_);
    current_ = nullptr;
    ++buffers_written_;
    return buffer;
}

bool realtime_buffers::write(const EVENT_RECORD& record, std::shared_ptr<trace_buffer>& full) {
    const std::size_t size = padded(buffered_record_header + record.UserDataLength);
    if (size > buffer_bytes_) {
        ++events_lost_;
        return false;
    }
    if (current_ && current_->used + size > buffer_bytes_)
        full = hand_out();
    if (!current_) {
        current_ = take_free();
        if (!current_) {
            ++events_lost_;
            return false;
        }
    }
    std::byte* at = current_->bytes.data() + current_->used;
    std::memcpy(at, &record, sizeof record);
    if (record.UserDataLength != 0)
        std::memcpy(at + buffered_record_header, record.UserData, record.UserDataLength);
    current_->used += size;
    ++current_->records;
    return true;
}

std::shared_ptr<trace_buffer> realtime_buffers::flush() {
    if (!current_ || current_->records == 0)
        return nullptr;
    return hand_out();
}

void realtime_buffers::lost_in_transit(const std::shared_ptr<trace_buffer>& buffer) {
    ++realtime_buffers_lost_;
    if (buffer->readers == 0 || --buffer->readers == 0)
        free_.push_back(buffer);
}

void realtime_buffers::read(const std::shared_ptr<trace_buffer>& buffer) {
    if (buffer->readers > 0 && --buffer->readers == 0)
        free_.push_back(buffer);
}

buffer_statistics realtime_buffers::statistics() const {
    buffer_statistics statistics;
    statistics.number_of_buffers = allocated_;
    statistics.free_buffers = static_cast<std::uint32_t>(free_.size());
    statistics.events_lost = events_lost_;
    statistics.buffers_written = buffers_written_;
    statistics.realtime_buffers_lost = realtime_buffers_lost_;
    return statistics;
}

} // namespace tallowick::platform::simulated
