#include "support/running_process.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tallowick::testing {
namespace {

// Null-terminated pointers into `texts`, for execve.
std::vector<char*> pointers_to(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

void close_quietly(int fd) {
    if (fd >= 0)
        close(fd);
}

} // namespace

running_process::running_process(const std::string& program, const std::vector<std::string>& args,
                                 const std::vector<std::string>& environment, output_handling output)
    : holding_(output == output_handling::held || output == output_handling::held_with_errors),
      closing_after_a_line_(output == output_handling::closed_after_a_line) {
    const bool one_pipe = output == output_handling::held_with_errors;
    if (pipe2(wake_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<std::string> env_text;
    for (char** entry = environ; *entry != nullptr; ++entry)
        env_text.emplace_back(*entry);
    env_text.insert(env_text.end(), environment.begin(), environment.end());
    std::vector<char*> argv = pointers_to(argv_text);
    std::vector<char*> envp = pointers_to(env_text);

    std::array<int, 2> out{-1, -1};
    std::array<int, 2> err{-1, -1};
    if (pipe2(out.data(), O_CLOEXEC) != 0 || pipe2(err.data(), O_CLOEXEC) != 0) {
        for (const int fd : {out[0], out[1], err[0], err[1]})
            close_quietly(fd);
        throw std::runtime_error("pipe failed");
    }
    if (one_pipe) {
        // Filled to the last byte, so the program's first write blocks: a pipe
        // with room left takes small writes beside a blocked large one.
        const int size = fcntl(out[0], F_SETPIPE_SZ, 4096);
        if (size > 0) {
            const std::string filler = std::string(static_cast<std::size_t>(size) - 1, '#') + "\n";
            (void)!::write(out[1], filler.data(), filler.size());
        }
    }
    child_ = fork();
    if (child_ < 0) {
        for (const int fd : {out[0], out[1], err[0], err[1]})
            close_quietly(fd);
        throw std::runtime_error("fork failed");
    }
    if (child_ == 0) {
        const int in = open("/dev/null", O_RDONLY);
        if (in < 0 || dup2(in, 0) < 0 || dup2(out[1], 1) < 0 || dup2(one_pipe ? out[1] : err[1], 2) < 0)
            _exit(126);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    // Readable once the program has ended, whether its output was read or not.
    process_fd_ = static_cast<int>(syscall(SYS_pidfd_open, child_, 0));
    collector_ = std::thread([this, out_fd = out[0], err_fd = err[0]] { collect(out_fd, err_fd); });
}

running_process::~running_process() {
    if (collector_.joinable()) {
        wait(std::chrono::milliseconds(0));
        collector_.join();
    }
    close_quietly(wake_[0]);
    close_quietly(wake_[1]);
    close_quietly(process_fd_);
}

bool running_process::output_held() {
    const std::lock_guard lock(mutex_);
    return holding_;
}

void running_process::release_output() {
    {
        const std::lock_guard lock(mutex_);
        holding_ = false;
    }
    const char wake = 1;
    (void)!write(wake_[1], &wake, 1);
}

void running_process::collect(int out, int err) {
    std::array<pollfd, 4> fds{pollfd{out, POLLIN, 0}, pollfd{err, POLLIN, 0}, pollfd{wake_[0], POLLIN, 0},
                              pollfd{process_fd_, POLLIN, 0}};
    std::array<std::string*, 2> into{&out_, &err_};
    int open_count = 2;
    while (open_count > 0) {
        // A held output is not looked at until released; the release wakes the poll.
        const bool held = output_held();
        const int in_poll = fds[0].fd;
        if (held)
            fds[0].fd = -1;
        const int ready = poll(fds.data(), fds.size(), -1);
        fds[0].fd = in_poll;
        if (held)
            fds[0].revents = 0;
        if (fds[2].revents != 0) {
            char drained[16];
            (void)!read(wake_[0], drained, sizeof drained);
        }
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[3].fd >= 0 && fds[3].revents != 0) {
            fds[3].fd = -1;
            const std::lock_guard lock(mutex_);
            exited_ = true;
            holding_ = false; // nothing is blocked any more: read what it left
            changed_.notify_all();
        }
        for (std::size_t i = 0; i < into.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            std::array<char, 4096> buffer{};
            const ssize_t got = read(fds[i].fd, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
                continue;
            }
            const std::lock_guard lock(mutex_);
            into[i]->append(buffer.data(), static_cast<std::size_t>(got));
            changed_.notify_all();
            if (i == 0 && closing_after_a_line_ && out_.find('\n') != std::string::npos) {
                close(fds[0].fd);
                fds[0].fd = -1;
                --open_count;
            }
        }
    }
    close_quietly(fds[0].fd);
    close_quietly(fds[1].fd);
    int status = 0;
    while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
    const std::lock_guard lock(mutex_);
    exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    ended_ = true;
    changed_.notify_all();
}

bool running_process::wait_for_line(const std::string& line, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return out_.starts_with(line + "\n") || out_.find("\n" + line + "\n") != std::string::npos;
    });
}

void running_process::send_signal(int signal_number) {
    const std::lock_guard lock(mutex_);
    if (!ended_) // the id is not reused before the collector has reaped it
        kill(child_, signal_number);
}

bool running_process::wait_for_exit(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return exited_ || ended_; });
}

process_result running_process::wait(std::chrono::milliseconds timeout) {
    release_output(); // whatever it wrote is read to the end
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [&] { return ended_; })) {
        hung_ = true;
        kill(child_, SIGKILL);
        changed_.wait(lock, [&] { return ended_; });
    }
    return {exit_status_, out_, err_};
}

} // namespace tallowick::testing
