#include "output/run_counters.h"

namespace tallowick::output {

run_counters& counters() {
    static run_counters process_counters;
    return process_counters;
}

} // namespace tallowick::output
