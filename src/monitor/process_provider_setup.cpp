#include "monitor/process_provider_setup.h"

#include "console/console.h"
#include "decoding/event_schema.h"
#include "decoding/predicates.h"
#include "decoding/property_parser.h"
#include "decoding/record_filter.h"
#include "monitor/lookups.h"
#include "monitor/pending_attribution.h"
#include "monitor/process_attribution.h"
#include "monitor/process_event_handler.h"
#include "platform/system_api.h"
#include "platform/utf_codec.h"
#include "platform/windows_facts.h"
#include "pool/thread_pool.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace tallowick::monitor {
namespace {
void track(process_tracker& tracker, int opcode, std::uint32_t pid, record_time when,
           const std::string& image_file_name, const etw::sid& user_sid) {
    if (opcode == platform::rundown_start_opcode) {
        // Running since before the session: its life from its creation.
        tracker.ran_before(pid, get_process_creation_time(pid),
                           learn_process_facts(pid, when, image_file_name, user_sid.sid_string));
    } else if (opcode == platform::process_start_opcode)
        tracker.started(pid, when, learn_process_facts(pid, when, image_file_name, user_sid.sid_string));
    else if (opcode == platform::process_end_opcode && !tracker.ended(pid, when))
        tracker.ended_unseen(pid, when, learn_process_facts(pid, when, image_file_name, user_sid.sid_string));
}
// The parent's image as the tracker knows it at the child's start: its life
// covering that time; "" when the time belongs to no life it can name; nothing
// when it knows nothing, for the live look-up.
std::optional<std::string> parent_image_of(const process_tracker& tracker, std::uint32_t parent_id,
                                           record_time when) {
    const process_tracker::lookup known = tracker.find(parent_id, when);
    if (known.answer == process_tracker::verdict::covered && known.facts)
        return known.facts->image;
    if (known.answer == process_tracker::verdict::not_this)
        return std::string();
    return std::nullopt;
}
} // namespace

void setup_kernel_process_provider(etw::kernel::process_provider& provider, pool::thread_pool& pool,
                                   const event_scope& scope, message_sink& sink, process_tracker& tracker,
                                   pending_attribution* pending) {
    using etw::predicates::opcode_is;
    using etw::predicates::details::or_filter;
    // The kernel's process events all carry id 0: the opcode tells them apart.
    etw::record_filter filter({0}, or_filter(or_filter(opcode_is(platform::process_start_opcode),
                                                       opcode_is(platform::process_end_opcode)),
                                             opcode_is(platform::rundown_start_opcode)));
    filter.add_event_callback([&pool, &scope, &sink, &tracker, pending](const EVENT_RECORD& record,
                                                                        const etw::trace_context& context) {
        process_event_callback(record, context, pool, scope, sink, tracker, pending);
    });
    provider.attach_filter(filter);
}

void process_event_callback(const EVENT_RECORD& record, const etw::trace_context& context,
                            pool::thread_pool& pool, const event_scope& scope, message_sink& sink,
                            process_tracker& tracker, pending_attribution* pending) {
    const record_time when = time_of(record);
    try {
        const etw::event_schema schema(record, context);
        etw::property_parser parser(schema);
        const int opcode = schema.event_opcode();
        // A start is logged in its creator's context: the header's id is not the process's.
        const auto process_id = parser.read_property<std::uint32_t>(u"ProcessId");
        if (process_id < first_user_process_id) {
            if (pending != nullptr)
                pending->kernel_progressed(when);
            return;
        }
        std::string command_line =
            platform::current_system().utf16_to_utf8(parser.read_property<std::u16string>(u"CommandLine"));
        // Narrow text as the kernel wrote it; what is not UTF-8 is replaced so the message stays valid JSON.
        std::string image_file_name =
            platform::valid_utf8(parser.read_property<std::string>(u"ImageFileName"));
        etw::sid user_sid = parser.read_property<etw::sid>(u"UserSID");
        const auto parent_id = parser.read_property<std::uint32_t>(u"ParentId");
        std::optional<std::string> parent_image;
        if (opcode == platform::process_start_opcode)
            parent_image = parent_image_of(tracker, parent_id, when);
        track(tracker, opcode, process_id, when, image_file_name, user_sid);
        if (pending != nullptr)
            pending->kernel_progressed(when);
        // The rundown seeds the tracker only: those processes did not start now.
        if (opcode == platform::rundown_start_opcode)
            return;
        // Excluded on the path the tracker learnt, not on the kernel's short name.
        const process_tracker::lookup known = tracker.find(process_id, when);
        std::string image_path = known.facts ? known.facts->image : std::string();
        pool.enqueue_task(handle_process_event, opcode, static_cast<unsigned int>(process_id),
                          std::move(command_line), std::move(image_file_name), std::move(image_path),
                          std::move(user_sid), static_cast<unsigned int>(parent_id), std::cref(scope),
                          std::ref(sink), std::move(parent_image), when);
    } catch (const std::exception& error) {
        console::write_line(std::string("WINDOWS KERNEL PROCESS HANDLER CAUGHT ERROR: ") + error.what(),
                            true);
    }
}

} // namespace tallowick::monitor
