#include "service/service_manager.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "service/local_manager.h"
#include "service/systemd_manager.h"

namespace pelorin {
namespace {

constexpr char kSystemdMarker[] = "/run/systemd/system";
// The one database a local service manager has.
constexpr std::string_view kActiveDatabase = "ServicesActive";

}  // namespace

TSvcResult TSvcResult::FromErrno(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text, which need not be in `buffer`.
  return Failure(::strerror_r(error, buffer, sizeof buffer));
}

TServiceManagerKind ChooseServiceManager(const char* choice, const std::string& systemd_marker) {
  if (choice != nullptr) {
    const std::string_view wanted(choice);
    if (wanted == "local") return TServiceManagerKind::Local;
    if (wanted == "systemd") return TServiceManagerKind::Systemd;
  }
  return ::access(systemd_marker.c_str(), F_OK) == 0 ? TServiceManagerKind::Systemd : TServiceManagerKind::Local;
}

std::unique_ptr<TServiceManager> OpenServiceManager(const std::string& machine, const std::string& database,
                                                    std::uint32_t access, std::string& reason) {
  if (!machine.empty()) {
    reason = "Service managers of other machines (" + machine + ") cannot be reached from here";
    return nullptr;
  }
  if (!database.empty() && database != kActiveDatabase) {
    reason = "The service database " + database + " does not exist";
    return nullptr;
  }
  if (ChooseServiceManager(std::getenv("PELORIN_SERVICE_MANAGER"), kSystemdMarker) == TServiceManagerKind::Systemd) {
    return OpenSystemdManager(access, reason);
  }
  return OpenLocalManager(ExecutablePath(), reason);
}

std::string ExecutablePath() {
  char buffer[4096];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return {};
  return std::string(buffer, static_cast<std::size_t>(length));
}

}  // namespace pelorin
