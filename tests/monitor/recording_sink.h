#pragma once
// What the handlers hand on, kept as compact JSON text with its kind; and a
// scope over small built-in tables of the tests' own, so that a case shows
// which entry it leans on.

#include "monitor/event_scope.h"
#include "monitor/message_sink.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <array>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tallowick::testing {

// A message as compact JSON text, its members in order: what the collector would read.
inline std::string json_of(const rapidjson::Document& message) {
    rapidjson::StringBuffer text;
    rapidjson::Writer<rapidjson::StringBuffer> writer(text);
    message.Accept(writer);
    return {text.GetString(), text.GetSize()};
}

class recording_sink final : public monitor::message_sink {
  public:
    void send(rapidjson::Document& message, monitor::message_kind kind, monitor::record_time when) override {
        std::string text = json_of(message);
        std::lock_guard lock(mutex_);
        messages_.push_back(std::move(text));
        kinds_.push_back(kind);
        times_.push_back(when);
    }

    // What was handed on since the last take, in order.
    std::vector<std::string> take_messages() {
        std::lock_guard lock(mutex_);
        return std::exchange(messages_, {});
    }
    std::vector<monitor::message_kind> take_kinds() {
        std::lock_guard lock(mutex_);
        return std::exchange(kinds_, {});
    }
    // The record times the messages came with.
    std::vector<monitor::record_time> take_times() {
        std::lock_guard lock(mutex_);
        return std::exchange(times_, {});
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> messages_;
    std::vector<monitor::message_kind> kinds_;
    std::vector<monitor::record_time> times_;
};

// Order matters: the first entry that names the program decides.
inline const std::array<monitor::excluded_program, 5> test_default_excluded = {{
    {"ServiceHub.", monitor::program_match::name_prefix},
    {"WerFault.exe", monitor::program_match::file_name, monitor::program_home::windows_folders},
    {"explorer.exe", monitor::program_match::file_name, monitor::program_home::windows_folders},
    {"svchost.exe", monitor::program_match::file_name, monitor::program_home::windows_folders},
    {"velmar windows agent\\winagent.exe", monitor::program_match::path_ending},
}};
inline const std::array<std::string, 2> test_agent_images = {
    "velmar windows agent\\winagent.exe",
    "windowsazureguestagent.exe",
};
inline const std::array<std::string, 4> test_documents = {".docx", ".pdf", ".txt", ".zip"};

inline monitor::event_scope scope_of(std::vector<std::string> monitored_paths = {},
                                     std::vector<std::string> excluded_processes = {}) {
    return {std::move(monitored_paths), std::move(excluded_processes), test_default_excluded,
            test_agent_images, test_documents};
}

} // namespace tallowick::testing
