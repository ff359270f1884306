// The service manager of machines without systemd (containers, CI): the one
// service it knows is the running executable, started detached from its own
// directory and found again through its pid file (pid_file.h). Stop, pause and
// continue are SIGTERM, SIGUSR1 and SIGUSR2. Used on the controller's thread.
#ifndef PELORIN_SERVICE_LOCAL_MANAGER_H_
#define PELORIN_SERVICE_LOCAL_MANAGER_H_

#include <chrono>
#include <memory>
#include <string>

#include "service/service_manager.h"

namespace pelorin {

inline constexpr std::chrono::milliseconds kLocalStopTimeout{30000};

// Why installing needs systemd, in words a person acts on.
inline constexpr char kNoSystemdReason[] =
    "systemd is not running on this machine (no /run/systemd/system), so there is no service manager to "
    "hold the entry; start and stop the service with /START and /STOP instead";

// `executable` is the full path of the service's executable; its directory is the
// application directory that holds the pid file. A stop waits up to
// `stop_timeout` for the process to end, so that a following start finds it gone.
std::unique_ptr<TServiceManager> OpenLocalManager(const std::string& executable, std::string& reason,
                                                  std::chrono::milliseconds stop_timeout = kLocalStopTimeout);

}  // namespace pelorin

#endif  // PELORIN_SERVICE_LOCAL_MANAGER_H_
