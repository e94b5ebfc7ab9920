#include "platform/simulated/tdh_catalog.h"

#include "platform/windows_facts.h"
#include <cstring>

namespace tallowick::platform::simulated {
namespace {

std::u16string name_at(const std::byte* info, std::uint32_t offset) {
    std::u16string name;
    for (const std::byte* unit = info + offset;; unit += 2) {
        char16_t value = 0;
        std::memcpy(&value, unit, sizeof value);
        if (value == 0)
            return name;
        name.push_back(value);
    }
}

std::u16string name_at_address(std::uint64_t address) {
    return name_at(reinterpret_cast<const std::byte*>(static_cast<std::uintptr_t>(address)), 0);
}

} // namespace

tdh_catalog::kind tdh_catalog::kind_of(const EVENT_RECORD& record) {
    kind key;
    std::memcpy(key.first.data(), &record.EventHeader.ProviderId, sizeof(GUID));
    const EVENT_DESCRIPTOR& descriptor = record.EventHeader.EventDescriptor;
    key.second = (std::uint64_t{descriptor.Id} << 24) | (std::uint64_t{descriptor.Opcode} << 16) |
                 (std::uint64_t{descriptor.Version} << 8) | descriptor.Level;
    return key;
}

void tdh_catalog::add(const built_record& record) {
    const auto info = record.event_info();
    std::vector<std::pair<std::u16string, std::uint32_t>> sizes;
    const auto declared = record.property_sizes();
    for (std::size_t i = 0; i < declared.size(); ++i) {
        EVENT_PROPERTY_INFO property{};
        std::memcpy(&property,
                    info.data() + offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray) +
                        i * sizeof(EVENT_PROPERTY_INFO),
                    sizeof property);
        sizes.emplace_back(name_at(info.data(), property.NameOffset), declared[i]);
    }
    const std::lock_guard lock(mutex_);
    if (record.schema_known())
        schemas_.insert_or_assign(kind_of(record.record()), std::vector<std::byte>(info.begin(), info.end()));
    sizes_entry& entry = property_sizes_[payload_key(record.record())];
    entry.sizes = std::move(sizes);
    ++entry.adds;
}

void tdh_catalog::remove(const built_record& record) {
    const std::lock_guard lock(mutex_);
    const auto found = property_sizes_.find(payload_key(record.record()));
    if (found != property_sizes_.end() && --found->second.adds == 0)
        property_sizes_.erase(found);
}

std::string tdh_catalog::payload_key(const EVENT_RECORD& record) {
    const auto kind = kind_of(record);
    std::string key(reinterpret_cast<const char*>(kind.first.data()), kind.first.size());
    key.append(reinterpret_cast<const char*>(&kind.second), sizeof kind.second);
    if (record.UserData != nullptr)
        key.append(static_cast<const char*>(record.UserData), record.UserDataLength);
    return key;
}

std::uint32_t tdh_catalog::get_event_information(const EVENT_RECORD& record, TRACE_EVENT_INFO* buffer,
                                                 std::uint32_t* buffer_size) const {
    const std::lock_guard lock(mutex_);
    const auto found = schemas_.find(kind_of(record));
    if (found == schemas_.end())
        return error_not_found;
    const auto needed = static_cast<std::uint32_t>(found->second.size());
    if (buffer == nullptr || *buffer_size < needed) {
        *buffer_size = needed;
        return error_insufficient_buffer;
    }
    std::memcpy(buffer, found->second.data(), needed);
    *buffer_size = needed;
    return error_success;
}

std::uint32_t tdh_catalog::get_property_size(const EVENT_RECORD& record,
                                             const PROPERTY_DATA_DESCRIPTOR& descriptor,
                                             std::uint32_t* property_size) const {
    const std::lock_guard lock(mutex_);
    const auto found = property_sizes_.find(payload_key(record));
    if (found == property_sizes_.end())
        return error_not_found;
    const std::u16string name = name_at_address(descriptor.PropertyName);
    for (const auto& [property, size] : found->second.sizes) {
        if (property == name) {
            *property_size = size;
            return error_success;
        }
    }
    return error_not_found;
}

} // namespace tallowick::platform::simulated
