#include "support/run_process.h"
#include "support/running_process.h"

namespace tallowick::testing {

process_result run_process(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& environment) {
    running_process running(program, args, environment);
    process_result result = running.wait(std::chrono::minutes(2));
    if (running.hung())
        result.exit_status = -1;
    return result;
}

} // namespace tallowick::testing
