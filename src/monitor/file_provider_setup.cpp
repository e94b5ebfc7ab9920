#include "monitor/file_provider_setup.h"

#include "console/console.h"
#include "decoding/comparers.h"
#include "decoding/current_record.h"
#include "decoding/event_schema.h"
#include "decoding/predicates.h"
#include "decoding/property_parser.h"
#include "decoding/property_view_predicate.h"
#include "monitor/file_event_handler.h"
#include "monitor/process_attribution.h"
#include "platform/system_api.h"
#include "platform/windows_facts.h"
#include "pool/thread_pool.h"

#include <exception>
#include <functional>
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

// Named here, on the session thread, while the record's process may still run
// and before a later record of the kernel session can end its life.
event_origin attribute(const EVENT_RECORD& record, process_tracker& tracker) {
    return attribute_file_record(tracker, record.EventHeader.ProcessId,
                                 record.EventHeader.TimeStamp.QuadPart);
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
                               const event_scope& scope, message_sink& sink, process_tracker& tracker) {
    provider.set_any_keywords(file_keywords);
    etw::record_filter filter({platform::file_create_event, platform::file_delete_path_event,
                               platform::file_rename_path_event, platform::file_create_new_file_event},
                              file_event_predicate());
    filter.add_event_callback(
        [&pool, &scope, &sink, &tracker](const EVENT_RECORD& record, const etw::trace_context& context) {
            file_event_callback(record, context, pool, scope, sink, tracker);
        });
    provider.attach_filter(filter);
}

void file_event_callback(const EVENT_RECORD& record, const etw::trace_context& context,
                         pool::thread_pool& pool, const event_scope& scope, message_sink& sink,
                         process_tracker& tracker) {
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
            pool.enqueue_task(handle_file_access_event, event_id, process_id, std::move(name),
                              static_cast<unsigned int>(share_access), std::cref(scope), std::ref(sink),
                              attribute(record, tracker));
        } else if (event_id == platform::file_delete_path_event ||
                   event_id == platform::file_rename_path_event ||
                   event_id == platform::file_create_new_file_event) {
            std::u16string name = u"UNKNOWN";
            if (!parser.try_read_property(u"FileName", name))
                parser.try_read_property(u"FilePath", name);
            pool.enqueue_task(handle_file_path_event, event_id, process_id, std::move(name), std::cref(scope),
                              std::ref(sink), attribute(record, tracker));
        }
    } catch (const std::exception& error) {
        console::write_line(std::string("FILESYSTEM HANDLER CAUGHT ERROR: ") + error.what(), true);
    }
}

} // namespace tallowick::monitor
