// What the systemd unit of an installed service takes from the machine: the
// account it runs as, which must own the application directory, and whether the
// configuration asks for a port below 1024. Read by the installer on its thread.
#ifndef PELORIN_SERVICE_UNIT_INPUTS_H_
#define PELORIN_SERVICE_UNIT_INPUTS_H_

#include <string>

#include "service/service_manager.h"

namespace pelorin {

// Success when `account` exists and owns `app_dir` and its three store
// directories (config, user, pelorin): the service writes stores, journal and
// logs there as that account. The failure says how to make it so.
TSvcResult CheckServiceAccount(const std::string& account, const std::string& app_dir);

// True when the configuration store of `app_dir` (config/config.xml, or the
// first-run config/configinit.xml while there is none) names a plain or TLS
// port from 1 to 1023. Port 0 lets the system pick, which it does above 1023.
bool ConfiguresPrivilegedPort(const std::string& app_dir);

}  // namespace pelorin

#endif  // PELORIN_SERVICE_UNIT_INPUTS_H_
