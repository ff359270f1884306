// The service manager when systemd runs: requests go to systemd's manager object
// over the system bus (sd-bus), and an entry is a unit file in /etc/systemd/system.
// One bus connection per opened manager, used on the thread that opened it.
#ifndef PELORIN_SERVICE_SYSTEMD_MANAGER_H_
#define PELORIN_SERVICE_SYSTEMD_MANAGER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "service/service_manager.h"

namespace pelorin {

// Connects to the system bus. Rights are not checked here: systemd checks each
// request (root, or polkit), as the access masks ask for.
std::unique_ptr<TServiceManager> OpenSystemdManager(std::uint32_t access, std::string& reason);

}  // namespace pelorin

#endif  // PELORIN_SERVICE_SYSTEMD_MANAGER_H_
