#include "service/servicectl.h"

#include <exception>

namespace pelorin {
namespace {

// The callers go on whatever happens, so nothing may escape; the reason of a
// refused request is not needed by them either.
template <typename Request>
bool Ask(Request&& request) noexcept {
  try {
    return static_cast<bool>(request());
  } catch (...) {
    return false;
  }
}

bool SendControl(TSvcHandle& handle, std::uint32_t code) noexcept {
  if (!handle.Service) return false;
  return Ask([&] { return handle.Service->Control(code, handle.Status); });
}

}  // namespace

TSvcHandle SvcOpenManager(const TServiceManagerOpener& opener, const std::string& machine,
                          const std::string& database, std::uint32_t access) noexcept {
  TSvcHandle handle;
  try {
    std::string reason;
    if (opener) handle.Manager = opener(machine, database, access, reason);
  } catch (...) {
    handle.Manager.reset();
  }
  return handle;
}

TSvcHandle SvcOpenManager(const std::string& machine, const std::string& database, std::uint32_t access) noexcept {
  return SvcOpenManager(OpenServiceManager, machine, database, access);
}

TSvcHandle SvcOpen(const TServiceManagerOpener& opener, const std::string& machine, const std::string& database,
                   const std::string& service, std::uint32_t access) noexcept {
  TSvcHandle handle = SvcOpenManager(opener, machine, database, SC_MANAGER_ALL_ACCESS);
  if (!handle.Manager) return handle;
  try {
    std::string reason;
    handle.Service = handle.Manager->OpenService(service, access, reason);
  } catch (...) {
    handle.Service.reset();
  }
  return handle;
}

TSvcHandle SvcOpen(const std::string& machine, const std::string& database, const std::string& service,
                   std::uint32_t access) noexcept {
  return SvcOpen(OpenServiceManager, machine, database, service, access);
}

bool SvcStart(TSvcHandle& handle, const std::vector<std::string>& args) noexcept {
  if (!handle.Service) return false;
  return Ask([&] { return handle.Service->Start(args); });
}

bool SvcStop(TSvcHandle& handle) noexcept { return SendControl(handle, SERVICE_CONTROL_STOP); }
bool SvcPause(TSvcHandle& handle) noexcept { return SendControl(handle, SERVICE_CONTROL_PAUSE); }
bool SvcContinue(TSvcHandle& handle) noexcept { return SendControl(handle, SERVICE_CONTROL_CONTINUE); }

void SvcClose(TSvcHandle& handle) noexcept {
  // Destructors of the handles do not throw; the order matters, the service
  // borrows the manager.
  handle.Service.reset();
  handle.Manager.reset();
}

}  // namespace pelorin
