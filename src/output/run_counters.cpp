#include "output/run_counters.h"

namespace tallowick {

run_counters& counters() {
    static run_counters process_counters;
    return process_counters;
}

} // namespace tallowick
