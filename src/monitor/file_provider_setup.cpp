#include "monitor/file_provider_setup.h"

#include "console/console.h"
#include "decoding/comparers.h"
#include "decoding/current_record.h"
#include "decoding/event_schema.h"
#include "decoding/predicates.h"
#include "decoding/property_parser.h"
#include "decoding/property_view_predicate.h"
#include "monitor/file_event_handler.h"
#include "monitor/pending_attribution.h"
#include "monitor/process_attribution.h"
#include "platform/system_api.h"
#include "platform/windows_facts.h"
#include "pool/thread_pool.h"

#include <exception>
#include <functional>
#include <optional>
#include <utility>

namespace tallowick::monitor {
namespace {

using namespace etw::predicates;

// The four reported events' own keywords: create (event 12), delete-path,
// rename/set-link-path and create-new-file. The kernel generates only what
// these let through, so no read, write or close of the whole system is made
// for the event-id filter to drop.
constexpr std::uint64_t file_keywords = 0x80 | 0x400 | 0x800 | 0x1000;

// A test that holds when FileName does not match `expected` under `Comparer`.
template <typename Comparer> auto file_name_is_not(std::u16string expected) {
    using test =
        details::property_view_predicate<std::u16string, adapters::generic_string<char16_t>, Comparer>;
    return details::not_filter<test>(test(u"FileName", std::move(expected)));
}

// Joins the tests with and_filter, nested to the left: ((1 and 2) and 3) ...
template <typename L> L chain_left(L left) {
    return left;
}
template <typename L, typename R, typename... Rest> auto chain_left(L left, R right, Rest... rest) {
    return chain_left(details::and_filter<L, R>(std::move(left), std::move(right)), std::move(rest)...);
}

// The task queued with the record's origin: at once when the tracker can tell
// (or, without `pending`, by a live look-up here), else once it can.
template <typename Queue>
void attribute_then(const EVENT_RECORD& record, process_tracker& tracker, pending_attribution* pending,
                    Queue queue) {
    const std::uint32_t pid = record.EventHeader.ProcessId;
    const record_time when = record.EventHeader.TimeStamp.QuadPart;
    tracker.file_progressed(when);
    if (pending == nullptr)
        queue(attribute_file_record(tracker, pid, when));
    else if (std::optional<event_origin> now = attribute_now(tracker, pid, when))
        queue(std::move(*now)); // the usual case: no task object to make
    else
        pending->attribute(pid, when, std::move(queue));
}

} // namespace

etw::event_predicate file_event_predicate() {
    using contains_exact = comparers::contains<std::equal_to<char16_t>>;
    using contains_caseless = comparers::contains<comparers::iequal_to<char16_t>>;
    using ends_exact = comparers::ends_with<std::equal_to<char16_t>>;
    auto names = chain_left(
        file_name_is_not<contains_exact>(u"\\desktop.ini"),
        file_name_is_not<contains_caseless>(u"\\appdata\\"),
        file_name_is_not<contains_exact>(u"ProgramData\\Microsoft\\Search\\Data\\"),
        file_name_is_not<contains_exact>(u"Windows\\Prefetch\\"),
        file_name_is_not<contains_exact>(u"\\$RECYCLE.BIN\\"),
        file_name_is_not<contains_exact>(u"ProgramData\\Foxit Software\\Foxit PDF Reader\\FoxitData.txt"),
        file_name_is_not<contains_exact>(u"Windows\\INF\\"),
        file_name_is_not<contains_caseless>(u"windows\\system32\\driverstore"),
        file_name_is_not<contains_caseless>(u"windows\\system32\\drivers"),
        file_name_is_not<ends_exact>(u".dll"), file_name_is_not<contains_exact>(u".dll\\"),
        file_name_is_not<ends_exact>(u"\\"), file_name_is_not<contains_caseless>(u"windows\\system32\\spool"),
        file_name_is_not<contains_caseless>(u"windows\\appcompat\\"));
    return details::and_filter(version_is(1), std::move(names));
}

void setup_filekernel_provider(etw::provider<std::uint64_t>& provider, pool::thread_pool& pool,
                               const event_scope& scope, message_sink& sink, process_tracker& tracker,
                               pending_attribution* pending) {
    provider.set_any_keywords(file_keywords);
    etw::record_filter filter({platform::file_create_event, platform::file_delete_path_event,
                               platform::file_rename_path_event, platform::file_create_new_file_event},
                              file_event_predicate());
    filter.add_event_callback([&pool, &scope, &sink, &tracker, pending](const EVENT_RECORD& record,
                                                                        const etw::trace_context& context) {
        file_event_callback(record, context, pool, scope, sink, tracker, pending);
    });
    provider.attach_filter(filter);
}

void file_event_callback(const EVENT_RECORD& record, const etw::trace_context& context,
                         pool::thread_pool& pool, const event_scope& scope, message_sink& sink,
                         process_tracker& tracker, pending_attribution* pending) {
    try {
        // The walk the name tests made to FileName, not a second one.
        etw::property_parser& parser = context.current().parser(record, context);
        const int event_id = record.EventHeader.EventDescriptor.Id;
        const unsigned int process_id = record.EventHeader.ProcessId;
        if (process_id < first_user_process_id)
            return;
        if (event_id == platform::file_create_event) {
            std::string name =
                platform::current_system().utf16_to_utf8(parser.read_property<std::u16string>(u"FileName"));
            const auto share_access = parser.read_property<std::uint32_t>(u"ShareAccess");
            attribute_then(record, tracker, pending,
                           [&pool, &scope, &sink, event_id, process_id, name = std::move(name),
                            share = static_cast<unsigned int>(share_access)](event_origin origin) {
                               pool.enqueue_task(handle_file_access_event, event_id, process_id, name, share,
                                                 std::cref(scope), std::ref(sink), std::move(origin));
                           });
        } else if (event_id == platform::file_delete_path_event ||
                   event_id == platform::file_rename_path_event ||
                   event_id == platform::file_create_new_file_event) {
            std::u16string name = u"UNKNOWN";
            if (!parser.try_read_property(u"FileName", name))
                parser.try_read_property(u"FilePath", name);
            attribute_then(
                record, tracker, pending,
                [&pool, &scope, &sink, event_id, process_id, name = std::move(name)](event_origin origin) {
                    pool.enqueue_task(handle_file_path_event, event_id, process_id, name, std::cref(scope),
                                      std::ref(sink), std::move(origin));
                });
        }
    } catch (const std::exception& error) {
        console::write_line(std::string("FILESYSTEM HANDLER CAUGHT ERROR: ") + error.what(), true);
    }
}

} // namespace tallowick::monitor
