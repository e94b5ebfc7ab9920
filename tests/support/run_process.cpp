#include "support/run_process.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tallowick::testing {
namespace {
std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string temp_path(const char* tag) {
    std::string pattern = std::string("/tmp/tallowick-") + tag + "-XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    close(fd);
    return pattern;
}
} // namespace

process_result run_process(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& environment) {
    const std::string out_path = temp_path("out");
    const std::string err_path = temp_path("err");

    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argv_text)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    std::vector<std::string> env_text;
    for (char** entry = environ; *entry != nullptr; ++entry)
        env_text.emplace_back(*entry);
    env_text.insert(env_text.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (std::string& entry : env_text)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_path.c_str(), O_WRONLY | O_TRUNC);
        const int err = open(err_path.c_str(), O_WRONLY | O_TRUNC);
        if (in < 0 || out < 0 || err < 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    process_result result;
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return result;
}

} // namespace tallowick::testing
