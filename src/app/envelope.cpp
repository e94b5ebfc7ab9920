#include "app/envelope.h"

#include "app/event_time_text.h"
#include "platform/guid.h"
#include "platform/system_api.h"

namespace tallowick::app {

void envelope::seal(rapidjson::Document& message, std::int64_t event_time) {
    auto& allocator = message.GetAllocator();
    const std::string time = event_time_text(event_time);
    message.AddMember("Event_Time",
                      rapidjson::Value(time.data(), static_cast<rapidjson::SizeType>(time.size()), allocator),
                      allocator);
    // The envelope outlives every message it seals: its texts are referred to, not copied.
    message.AddMember("Host", rapidjson::StringRef(host_.data(), host_.size()), allocator);
    message.AddMember("Run_Id", rapidjson::StringRef(run_id_.data(), run_id_.size()), allocator);
    message.AddMember("Sequence", rapidjson::Value(next_.fetch_add(1, std::memory_order_relaxed)), allocator);
}

std::string this_host_name() {
    platform::system_api& system = platform::current_system();
    const auto name = system.dns_host_name();
    return name && !name->empty() ? system.utf16_to_utf8(*name) : "UNKNOWN";
}

std::string new_run_id() {
    return platform::guid_text(platform::create_guid());
}

} // namespace tallowick::app
