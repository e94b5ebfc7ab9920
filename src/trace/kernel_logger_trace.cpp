#include "trace/kernel_logger_trace.h"

#include "decoding/errors.h"
#include "platform/guid.h"
#include "platform/tracing_api.h"
#include "platform/windows_facts.h"
#include "trace/group_mask.h"
#include "trace/record_dispatch.h"
#include "trace/session_name.h"
#include "trace/windows_version.h"

#include <cstdint>
#include <cstdio>
#include <utility>

namespace etw {
namespace sdk = tallowick::platform::sdk;
namespace platform = tallowick::platform;
using tallowick::platform::create_guid;
using tallowick::platform::current_tracing;

namespace {

// The kernel's rundown provider.
constexpr GUID kernel_rundown_guid{
    0x3B9C9951, 0x3480, 0x4220, {0x93, 0x77, 0x9C, 0x8E, 0x51, 0x84, 0xF5, 0xCD}};

std::u16string kernel_session_name(std::u16string name) {
    check_session_name(name);
    if (!is_windows8_or_greater())
        return u"NT Kernel Logger";
    return session_name_or_guid(std::move(name));
}

} // namespace

kernel_logger_trace::kernel_logger_trace(std::u16string name)
    : trace_session(kernel_session_name(std::move(name))) {}

kernel_logger_trace::~kernel_logger_trace() {
    stop_quietly();
}

void kernel_logger_trace::on_kernel_record(EVENT_RECORD* record) {
    auto& session = session_of<kernel_logger_trace>(*record);
    if (session.take_loss_record(*record))
        return;
    session.restamp(*record);
    session.deliver([&] { dispatch_kernel_record(*record, session.providers_, session.context()); });
}

std::optional<std::string> kernel_logger_trace::replacement_notice() const {
    // Before Windows 8 there is only the one kernel logger of the system: the
    // one running may be another tool's, which loses its kernel events now.
    if (is_windows8_or_greater())
        return std::nullopt;
    return "tallowick: trace session NT Kernel Logger is running already, perhaps another tool's; "
           "stopping it to take its place";
}

session_properties kernel_logger_trace::fill_properties() {
    // Before Windows 8 there is one kernel logger, known by its control GUID; from
    // Windows 8 on, any session may be a system logger.
    const GUID guid = is_windows8_or_greater() ? create_guid() : platform::system_trace_control_guid;
    const std::uint32_t mode = is_windows8_or_greater()
                                   ? log_file_mode_for(buffers()) | sdk::event_trace_system_logger_mode
                                   : log_file_mode_for(buffers());
    std::uint32_t flags = 0;
    for (const kernel::kernel_provider& registered : providers_)
        flags |= registered.enable_flags;
    return etw::fill_properties(name(), {guid, mode, flags, buffers()});
}

void kernel_logger_trace::activate_providers() {
    // The enable flags of the properties block switch the providers on; the
    // masks in force are asked only to add a provider's group mask to them, and
    // only of a session of our own (after attaching there is no handle to ask with).
    if (controller_handle() == sdk::invalid_processtrace_handle || !any_group_mask(providers_))
        return;
    group_mask_information information;
    information.trace_handle = controller_handle();
    auto& tracing = current_tracing();
    check_nt_status(tracing.nt_query_system_information(sdk::system_performance_trace_information,
                                                        &information, sizeof information, nullptr));
    add_group_masks(information, providers_);
    check_nt_status(tracing.nt_set_system_information(sdk::system_performance_trace_information, &information,
                                                      sizeof information));
}

std::uint32_t kernel_logger_trace::wanted_flags() const {
    std::uint32_t wanted = 0;
    for (const kernel::kernel_provider& registered : providers_)
        wanted |= registered.enable_flags;
    return wanted;
}

namespace {
// "enable flags 0x00000000 where 0x00000001 are needed", or nothing when the flags hold.
std::optional<std::string> missing_flags(std::uint32_t flags, std::uint32_t wanted) {
    if ((flags & wanted) == wanted)
        return std::nullopt;
    char text[64];
    std::snprintf(text, sizeof text, "enable flags 0x%08X where 0x%08X are needed",
                  static_cast<unsigned>(flags), static_cast<unsigned>(wanted));
    return text;
}
} // namespace

std::optional<std::string>
kernel_logger_trace::attached_session_problem(const EVENT_TRACE_PROPERTIES& queried) {
    if (auto missing = missing_flags(static_cast<std::uint32_t>(queried.EnableFlags), wanted_flags()))
        return "it has " + *missing;
    return std::nullopt;
}

std::vector<session_tampering> kernel_logger_trace::tampering(const EVENT_TRACE_PROPERTIES& queried) {
    if (auto missing = missing_flags(static_cast<std::uint32_t>(queried.EnableFlags), wanted_flags()))
        return {{session_tampering::kind::flags_cleared, {}, "has " + *missing}};
    return {};
}

void kernel_logger_trace::undo(const session_tampering& /*found*/) {
    // An update with our block sets our flags again (the buffers stay as
    // they are); the group masks, which it may clear too, are set after it.
    session_properties block = fill_properties();
    check_status(current_tracing().control_trace(controller_handle(), name().c_str(), block.get(),
                                                 sdk::event_trace_control_update));
    activate_providers();
}

void kernel_logger_trace::request_rundown() {
    bool requested = false;
    std::uint32_t keywords = 0;
    for (const kernel::kernel_provider& registered : providers_) {
        requested = requested || registered.rundown_requested;
        keywords |= registered.rundown_keywords;
    }
    if (requested)
        check_status(current_tracing().enable_trace_ex2(controller_handle(), &kernel_rundown_guid,
                                                        sdk::event_control_code_enable_provider, 0, keywords,
                                                        0, 0, nullptr));
}

} // namespace etw
