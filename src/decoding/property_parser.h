#pragma once
// Finds named properties in one record's payload by walking the packed values in
// schema order, lazily and only once.

#include "decoding/event_schema.h"
#include "decoding/sid.h"
#include "decoding/string_content.h"
#include "platform/sdk/etw_types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace etw {

// Where a property lies in the payload. Found when `data` is not null.
struct property_slice {
    const std::byte* data = nullptr;
    const EVENT_PROPERTY_INFO* info = nullptr;
    std::uint32_t length = 0;

    bool found() const { return data != nullptr; }
};

// One per record, on the stack of the code that reads it; the schema and the
// record must outlive it. Not thread-safe.
class property_parser {
  public:
    explicit property_parser(const event_schema& schema);
    property_parser(const property_parser&) = delete;
    property_parser& operator=(const property_parser&) = delete;

    // The property called `name` (exact, case-sensitive), or the not-found slice.
    // Walks on from where the last walk stopped and remembers every property it
    // passes. Throws std::out_of_range when a property it walks would end past
    // the payload; the walk then stays where it was.
    property_slice locate_property(std::u16string_view name) {
        if (last_name_ != nullptr && name.size() == last_name_length_ && same_units(last_name_, name))
            return last_slice_;
        return locate_other_property(name);
    }

    // The value of a property: a trivially copyable T of the property's exact
    // size, std::u16string, std::string (bytes as they are) or sid. Throws
    // std::runtime_error (or std::out_of_range from the walk).
    template <typename T> T read_property(std::u16string_view name);

    // read_property without exceptions: false, and `target` untouched, on any failure.
    template <typename T> bool try_read_property(std::u16string_view name, T& target) noexcept {
        try {
            T value = read_property<T>(name);
            target = std::move(value);
            return true;
        } catch (...) {
            return false;
        }
    }

    // The size in bytes of the property described by `info` starting at
    // `position`: its declared length, a scan for a string's terminator, or TDH.
    std::uint32_t measure_property(const std::byte* position, const std::byte* name,
                                   const EVENT_RECORD& record, const EVENT_PROPERTY_INFO& info) const;

  private:
    struct walked_entry {
        const std::byte* name; // inside the TRACE_EVENT_INFO
        property_slice slice;
    };

    // Walked entries in walk order; an appended entry never moves. The first
    // chunk lives, uninitialised, in the parser, so parsing a typical record
    // neither allocates nor clears memory it does not use.
    class walked_entries {
      public:
        static constexpr std::size_t chunk_size = 16;

        walked_entries() {} // leaves the first chunk's storage uninitialised
        std::size_t size() const { return size_; }
        const walked_entry& operator[](std::size_t index) const {
            return index < chunk_size ? first_chunk()[index]
                                      : (*more_[index / chunk_size - 1])[index % chunk_size];
        }
        void push_back(const std::byte* name, const property_slice& slice) {
            if (size_ < chunk_size)
                new (first_ + size_ * sizeof(walked_entry)) walked_entry{name, slice};
            else
                push_back_beyond_first_chunk({name, slice});
            ++size_;
        }

      private:
        void push_back_beyond_first_chunk(const walked_entry& entry);
        const walked_entry* first_chunk() const {
            return std::launder(reinterpret_cast<const walked_entry*>(first_));
        }

        alignas(walked_entry) std::byte first_[chunk_size * sizeof(walked_entry)];
        std::vector<std::unique_ptr<std::array<walked_entry, chunk_size>>> more_;
        std::size_t size_ = 0;
    };

    // Whether the units at `stored` begin with `name`; inline, as a call to
    // memcmp would cost more than the compare of a short name.
    static bool same_units(const std::byte* stored, std::u16string_view name) {
        const auto* requested = reinterpret_cast<const std::byte*>(name.data());
        std::size_t bytes = name.size() * sizeof(char16_t);
        for (; bytes >= 8; bytes -= 8, stored += 8, requested += 8) {
            std::uint64_t left;
            std::uint64_t right;
            std::memcpy(&left, stored, 8);
            std::memcpy(&right, requested, 8);
            if (left != right)
                return false;
        }
        for (; bytes > 0; --bytes, ++stored, ++requested) {
            if (*stored != *requested)
                return false;
        }
        return true;
    }
    property_slice locate_other_property(std::u16string_view name);
    property_slice require_property(std::u16string_view name);
    sid read_sid(const property_slice& slice) const;

    const event_schema& schema_;
    // The last property found: the tests of a filter ask for one name in turn.
    // Its length in units lets a repeated request be one compare of known size.
    const std::byte* last_name_ = nullptr;
    std::size_t last_name_length_ = 0;
    property_slice last_slice_{};
    const std::byte* end_;
    const std::byte* position_;
    std::uint32_t next_index_ = 0;
    walked_entries walked_;
};

template <typename T> T property_parser::read_property(std::u16string_view name) {
    const property_slice slice = require_property(name);
    if constexpr (std::is_same_v<T, std::u16string>) {
        std::u16string text(string_content_length<char16_t>(slice.data, slice.length), u'\0');
        std::memcpy(text.data(), slice.data, text.size() * sizeof(char16_t));
        return text;
    } else if constexpr (std::is_same_v<T, std::string>) {
        return std::string(reinterpret_cast<const char*>(slice.data),
                           string_content_length<char>(slice.data, slice.length));
    } else if constexpr (std::is_same_v<T, sid>) {
        return read_sid(slice);
    } else {
        static_assert(std::is_trivially_copyable_v<T>, "a fixed-size read needs a trivially copyable type");
        if (slice.length != sizeof(T))
            throw std::runtime_error("Property size doesn't match requested size");
        T value;
        std::memcpy(&value, slice.data, sizeof(T));
        return value;
    }
}

} // namespace etw
