#include "trace/session_name.h"

#include "platform/guid.h"
#include "platform/tracing_api.h"
#include "trace/session_properties.h"

#include <new>
#include <stdexcept>

namespace etw {
using tallowick::platform::create_guid;

void check_session_name(std::u16string_view name) {
    // The name area must hold the terminator too.
    if (name.size() >= session_name_capacity)
        throw std::length_error("trace session name has " + std::to_string(name.size()) +
                                " characters; at most " + std::to_string(session_name_capacity - 1) +
                                " are allowed");
}

std::u16string session_name_or_guid(std::u16string name) {
    check_session_name(name);
    if (!name.empty())
        return name;
    std::u16string text;
    if (tallowick::platform::current_tracing().string_from_clsid(create_guid(), text) < 0)
        throw std::bad_alloc();
    return text;
}

} // namespace etw
