#pragma once

#include "support/run_process.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace tallowick::testing {

// How a running_process's standard output is read.
enum class output_handling {
    read,
    // Not read until release_output(): the program finds it blocked once the pipe is full.
    held,
    // The same, with standard error in that one pipe too (a console whose text
    // is being selected blocks both), and the pipe full before the program
    // starts: its first line of output is one of '#' the test wrote.
    held_with_errors,
    // Read up to the first line end, then closed (`| head -1`): later writes fail.
    closed_after_a_line,
};

// A program started for a test and watched while it runs (not on Windows): its
// standard output and error are collected as they come, so a test can wait for
// a line before it acts, send it signals, and wait for its end with a limit. A
// program that outlives the limit, or this object, is killed.
class running_process {
  public:
    // Standard input is closed; `environment` adds NAME=VALUE entries.
    running_process(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& environment = {},
                    output_handling output = output_handling::read);
    ~running_process();
    running_process(const running_process&) = delete;
    running_process& operator=(const running_process&) = delete;

    // Waits until standard output holds `line` as a whole line; false when the
    // program ends or `timeout` passes first.
    bool wait_for_line(const std::string& line, std::chrono::milliseconds timeout);
    void send_signal(int signal_number);
    void release_output();
    // Waits for the program's end without releasing a held output; false when
    // `timeout` passes first. What it wrote is read once it has ended.
    bool wait_for_exit(std::chrono::milliseconds timeout);
    // Waits for the end and returns what the program printed. A program still
    // running after `timeout` is killed: `hung` is then set.
    process_result wait(std::chrono::milliseconds timeout);
    bool hung() const { return hung_; }
    pid_t pid() const { return child_; }

  private:
    void collect(int out, int err);
    bool output_held();

    pid_t child_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_;
    std::string err_;
    bool ended_ = false;
    int exit_status_ = -1;
    bool hung_ = false;
    bool holding_ = false;
    bool closing_after_a_line_ = false;
    bool exited_ = false; // seen through the process descriptor, output read or not
    int process_fd_ = -1;
    int wake_[2] = {-1, -1}; // written to when the output is released
    std::thread collector_;
};

} // namespace tallowick::testing
