// The service process on Linux: runs the service module in the foreground with
// the main thread's event loop, which delivers the save timer's ticks and the
// signals that stop, pause and continue it. Called once, from main.
#ifndef PELORIN_SERVICE_SERVICE_HOST_H_
#define PELORIN_SERVICE_SERVICE_HOST_H_

#include <chrono>
#include <optional>
#include <string>

namespace pelorin {

// The directory of the running executable, without a trailing separator (so the
// root directory gives ""); nullopt when /proc/self/exe cannot be read.
std::optional<std::string> ExecutableDirectory();

// The save interval in milliseconds from PELORIN_SAVE_INTERVAL_MS (a whole number
// from 1 to one day), or nullopt when the variable is unset or unusable.
std::optional<std::chrono::milliseconds> SaveIntervalOverride(const char* value);

// Starts the service and serves until SIGTERM or SIGINT. SIGUSR1 and SIGUSR2
// pause and continue it in name only: the server keeps serving. Returns the
// process exit code: 1 when the start failed or the stop could not save, else 0.
int RunServiceProcess(const std::string& app_dir);

}  // namespace pelorin

#endif  // PELORIN_SERVICE_SERVICE_HOST_H_
