#pragma once

#include <rapidjson/document.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tallowick::app {

// What `--envelope` adds after a message's own members, so that a collector
// can tell when, where and in which run it was made, and what it never got:
// "Event_Time", "Host", "Run_Id" and "Sequence" (1, 2, 3, ... over every
// datagram of the run). Safe from any thread.
class envelope {
  public:
    static constexpr std::size_t members = 4;

    envelope(std::string host, std::string run_id) : host_(std::move(host)), run_id_(std::move(run_id)) {}

    // Adds the four members to `message`, with the next number of the run: a
    // message numbered and then not sent leaves a gap the collector sees.
    void seal(rapidjson::Document& message, std::int64_t event_time);

    const std::string& host() const { return host_; }
    const std::string& run_id() const { return run_id_; }

  private:
    std::string host_;
    std::string run_id_;
    std::atomic<std::uint64_t> next_{1};
};

// The computer's DNS host name as the platform says it ("UNKNOWN" when it does not).
std::string this_host_name();
// A new run's identity: a GUID, 36 lower-case characters without braces.
std::string new_run_id();

} // namespace tallowick::app
