#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/windows_support.h"

namespace tallowick::testing {

// A program started for a test and left running until finish(): its standard
// input is a pipe held open by this object (tallowick_idle_child runs until
// that input ends). Windows only.
class child_process {
  public:
    child_process(const std::string& program, const std::vector<std::string>& args);
    ~child_process(); // ends the program if it still runs
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    std::uint32_t pid() const { return pid_; }
    // Closes the program's input, waits for its end and releases every handle
    // to it, so that its process id names no process any more. Returns the
    // exit code.
    std::uint32_t finish();

  private:
    owned_handle process_;
    owned_handle input_;
    std::uint32_t pid_ = 0;
};

} // namespace tallowick::testing
