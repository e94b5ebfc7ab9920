#pragma once

#include <string>
#include <vector>

namespace tallowick::app {

// The service's name, as the service control manager and the Event Log know it.
inline constexpr char16_t service_name[] = u"Tallowick";

// --install-service: registers the service (automatic start, LocalSystem) with
// `options` (the command line without the program and the switch, already
// checked) stored in its command line, and the Event Log source. Returns the
// exit status: 0, or 1 with one line on standard error (administrative rights
// missing, a service of that name installed already).
int install_service(const std::vector<std::string>& options);

// --uninstall-service: stops the service if it runs, deletes it and its Event
// Log source. 0, or 1 with one line on standard error.
int uninstall_service();

// --service: the run the service control manager starts (`args` as main got
// them, the program first). Returns the run's exit status, or 1 when the
// manager did not start the program.
int run_as_service(const std::vector<std::string>& args);

} // namespace tallowick::app
