#include "decoding/property_parser.h"

#include "decoding/unit_search.h"
#include "platform/tracing_api.h"

#include <cstring>
#include <limits>

namespace etw {
namespace sdk = tallowick::platform::sdk;

namespace {

constexpr std::size_t property_array_offset = offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray);

const EVENT_PROPERTY_INFO& property_info_at(const TRACE_EVENT_INFO* info, std::uint32_t index) {
    const auto* base = reinterpret_cast<const std::byte*>(info) + property_array_offset;
    return *reinterpret_cast<const EVENT_PROPERTY_INFO*>(base +
                                                         std::size_t{index} * sizeof(EVENT_PROPERTY_INFO));
}

// Whether the zero-terminated name at `stored` is exactly `requested`.
bool same_name(const std::byte* stored, std::u16string_view requested) {
    for (std::size_t i = 0; i < requested.size(); ++i) {
        const auto unit = code_unit_at<char16_t>(stored, i);
        if (unit != requested[i] || unit == 0)
            return false;
    }
    return code_unit_at<char16_t>(stored, requested.size()) == 0;
}

// Bytes up to and including the first zero 16-bit unit; without one, the bytes
// left rounded up to an even count.
std::uint32_t measure_wide_string(const std::byte* position, const std::byte* end) {
    const auto remaining = static_cast<std::size_t>(end - position);
    const std::size_t units = remaining / 2;
    const std::size_t zero = find_unit(position, 0, units, u'\0');
    if (zero < units)
        return static_cast<std::uint32_t>(2 * (zero + 1));
    return static_cast<std::uint32_t>(remaining + (remaining & 1));
}

// Bytes up to and including the first zero byte; without one, the bytes left.
std::uint32_t measure_narrow_string(const std::byte* position, const std::byte* end) {
    const auto remaining = static_cast<std::size_t>(end - position);
    if (remaining == 0)
        return 0;
    const void* zero = std::memchr(position, 0, remaining);
    return static_cast<std::uint32_t>(zero == nullptr ? remaining
                                                      : static_cast<const std::byte*>(zero) - position + 1);
}

} // namespace

void property_parser::walked_entries::push_back_beyond_first_chunk(const walked_entry& entry) {
    if (size_ % chunk_size == 0)
        more_.push_back(std::make_unique<std::array<walked_entry, chunk_size>>());
    (*more_.back())[size_ % chunk_size] = entry;
}

property_parser::property_parser(const event_schema& schema)
    : schema_(schema),
      end_(static_cast<const std::byte*>(schema.record().UserData) + schema.record().UserDataLength),
      position_(static_cast<const std::byte*>(schema.record().UserData)) {}

std::uint32_t property_parser::measure_property(const std::byte* position, const std::byte* name,
                                                const EVENT_RECORD& record,
                                                const EVENT_PROPERTY_INFO& info) const {
    const auto flags = static_cast<std::uint32_t>(info.Flags);
    const std::uint16_t in_type = info.nonStructType.InType;
    if ((flags & sdk::property_param_length) == 0 && info.length != 0) {
        if (in_type == sdk::tdh_intype_pointer)
            return (record.EventHeader.Flags & sdk::event_header_flag_32_bit_header) != 0 ? 4 : 8;
        return info.length;
    }
    if (flags == 0 && info.nonStructType.OutType == sdk::tdh_outtype_string) {
        std::uint32_t size = 0;
        if (in_type == sdk::tdh_intype_unicodestring)
            size = measure_wide_string(position, end_);
        else if (in_type == sdk::tdh_intype_ansistring)
            size = measure_narrow_string(position, end_);
        if (size != 0)
            return size;
    }
    PROPERTY_DATA_DESCRIPTOR descriptor{};
    descriptor.PropertyName = reinterpret_cast<std::uintptr_t>(name);
    descriptor.ArrayIndex = std::numeric_limits<std::uint32_t>::max();
    descriptor.Reserved = 0;
    std::uint32_t size = 0;
    // The status tells nothing the size does not: a failed query stores none.
    tallowick::platform::current_tracing().tdh_get_property_size(&record, 0, nullptr, 1, &descriptor, &size);
    return size;
}

property_slice property_parser::locate_other_property(std::u16string_view name) {
    for (std::size_t i = 0; i < walked_.size(); ++i) {
        if (same_name(walked_[i].name, name)) {
            last_name_ = walked_[i].name;
            last_name_length_ = name.size();
            last_slice_ = walked_[i].slice;
            return last_slice_;
        }
    }
    const TRACE_EVENT_INFO* info = schema_.event_info();
    const auto* info_bytes = reinterpret_cast<const std::byte*>(info);
    const std::uint32_t count = info->PropertyCount;
    const std::uint32_t pointer_size =
        (schema_.record().EventHeader.Flags & sdk::event_header_flag_32_bit_header) != 0 ? 4 : 8;
    // The walk runs on locals and stores its progress on every way out: stores
    // into the walked entries could otherwise alias the members.
    const std::byte* position = position_;
    std::uint32_t index = next_index_;
    const auto keep_progress = [&] {
        position_ = position;
        next_index_ = index;
    };
    while (index < count) {
        const EVENT_PROPERTY_INFO& property = property_info_at(info, index);
        const std::byte* property_name = info_bytes + property.NameOffset;
        // Declared sizes inline (measure_property's first rule), as nearly every
        // property has one.
        std::uint32_t size = 0;
        if ((static_cast<std::uint32_t>(property.Flags) & sdk::property_param_length) == 0 &&
            property.length != 0)
            size = property.nonStructType.InType == sdk::tdh_intype_pointer ? pointer_size : property.length;
        else
            size = measure_property(position, property_name, schema_.record(), property);
        if (size > static_cast<std::size_t>(end_ - position)) {
            keep_progress();
            throw std::out_of_range("Property length past end of property buffer");
        }
        const property_slice slice{position, &property, size};
        walked_.push_back(property_name, slice);
        position += size;
        ++index;
        if (same_name(property_name, name)) {
            keep_progress();
            last_name_ = property_name;
            last_name_length_ = name.size();
            last_slice_ = slice;
            return slice;
        }
    }
    keep_progress();
    return {};
}

property_slice property_parser::require_property(std::u16string_view name) {
    const property_slice slice = locate_property(name);
    if (!slice.found())
        throw std::runtime_error("Property with the given name does not exist");
    return slice;
}

namespace {
bool starts_with_zero_ulong(const property_slice& slice) {
    std::uint32_t first = 1;
    if (slice.length < sizeof first)
        return false;
    std::memcpy(&first, slice.data, sizeof first);
    return first == 0;
}
} // namespace

sid property_parser::read_sid(const property_slice& slice) const {
    std::size_t offset = 0;
    switch (slice.info->nonStructType.InType) {
    case sdk::tdh_intype_sid:
        break;
    case sdk::tdh_intype_wbemsid:
        // The SID follows a TOKEN_USER of two pointer-sized values.
        offset = (schema_.record().EventHeader.Flags & sdk::event_header_flag_32_bit_header) != 0 ? 8 : 16;
        if (slice.length <= offset) {
            // A process without a token: the field is one zero ULONG alone.
            if (starts_with_zero_ulong(slice))
                return sid{};
            throw std::runtime_error("Requested a WBEMSID property but data is too small");
        }
        break;
    default:
        throw std::runtime_error("SID was not a SID or WBEMSID");
    }
    return sid_from_bytes({slice.data + offset, slice.length - offset});
}

} // namespace etw
