#include "app/session_guard.h"

#include "platform/utf_codec.h"

#include <exception>
#include <utility>

namespace tallowick::app {
namespace {
const char* undo_text(etw::session_tampering::kind what) {
    return what == etw::session_tampering::kind::flags_cleared ? "enable flags set again" : "enabled again";
}
} // namespace

bool session_guard::finding_key_less::operator()(const finding_key& left, const finding_key& right) const {
    if (std::get<0>(left) != std::get<0>(right))
        return std::get<0>(left) < std::get<0>(right);
    if (std::get<1>(left) != std::get<1>(right))
        return std::get<1>(left) < std::get<1>(right);
    return platform::guid_less{}(std::get<2>(left), std::get<2>(right));
}

session_guard::session_guard(std::vector<etw::trace_session*> sessions,
                             std::map<GUID, std::string, platform::guid_less> provider_names,
                             restore_ledger& ledger)
    : sessions_(std::move(sessions)), provider_names_(std::move(provider_names)), ledger_(ledger) {}

std::string session_guard::provider_name(const GUID& guid) const {
    const auto named = provider_names_.find(guid);
    return named != provider_names_.end() ? named->second : platform::guid_text(guid);
}

std::optional<std::string> session_guard::check() {
    std::map<finding_key, attempt, finding_key_less> still_open;
    for (std::size_t index = 0; index < sessions_.size(); ++index) {
        etw::trace_session& session = *sessions_[index];
        for (const etw::session_tampering& found : session.inspect()) {
            const finding_key key{index, static_cast<int>(found.what), found.provider};
            attempt tried =
                attempts_.count(key) != 0 ? attempts_.at(key) : attempt{std::chrono::system_clock::now(), 0};
            ++tried.tries;
            const bool is_provider = found.what != etw::session_tampering::kind::flags_cleared;
            session_restore restore{platform::utf16_to_utf8(session.name()),
                                    is_provider ? provider_name(found.provider) : std::string(),
                                    found.found,
                                    undo_text(found.what),
                                    tried.noticed,
                                    {},
                                    tried.tries};
            try {
                session.repair(found);
                restore.restored = std::chrono::system_clock::now();
                ledger_.restored(restore);
            } catch (const std::exception& error) {
                if (tried.tries >= restore_tries)
                    return "trace session " + restore.session + ": " +
                           (is_provider ? "provider " + restore.provider + " " : std::string()) +
                           restore.found + ", and could not be put right after " +
                           std::to_string(tried.tries) + " tries: " + error.what();
                still_open.emplace(key, tried);
            }
        }
    }
    attempts_ = std::move(still_open);
    return std::nullopt;
}

} // namespace tallowick::app
