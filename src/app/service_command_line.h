#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tallowick::app {

// `argument` as one argument of a Windows command line: as it is when nothing
// in it needs quoting, else in double quotes with the backslashes before a quote
// (or the closing one) doubled and each quote escaped, so that the C runtime
// and CommandLineToArgvW read back exactly `argument`.
std::string quote_argument(std::string_view argument);

// What the service control manager runs: the program's path (which holds no
// quote), "--service", then `options` as they were given to --install-service.
std::string service_command_line(std::string_view program, const std::vector<std::string>& options);

// Whether `program` lies inside one of `folders` (compared as Windows compares
// names, without regard to case). LocalSystem runs whatever lies at the
// service's path: where a user may replace it, that user owns the machine.
bool lies_within_any(std::string_view program, const std::vector<std::string>& folders);

} // namespace tallowick::app
