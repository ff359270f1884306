// The thin client of the service manager that the command line uses to start,
// stop, pause and continue the installed service. A TSvcHandle is owned by its
// caller and used on one thread. No operation throws: a handle that could not be
// opened makes every request return false.
#ifndef PELORIN_SERVICE_SERVICECTL_H_
#define PELORIN_SERVICE_SERVICECTL_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "service/service_manager.h"

namespace pelorin {

// One opened service. The service borrows the manager, so it is declared after it
// and goes first.
struct TSvcHandle {
  std::unique_ptr<TServiceManager> Manager;  // null when opening the manager failed
  std::unique_ptr<TService> Service;         // null when opening either failed
  TServiceStatus Status;                     // what the last control request reported
};

// Empty machine and database names mean the local machine and its active database.
// The overloads without an opener use OpenServiceManager.
TSvcHandle SvcOpenManager(const TServiceManagerOpener& opener, const std::string& machine,
                          const std::string& database, std::uint32_t access) noexcept;
TSvcHandle SvcOpenManager(const std::string& machine, const std::string& database, std::uint32_t access) noexcept;

// Opens the manager with SC_MANAGER_ALL_ACCESS and, if that worked, the service.
TSvcHandle SvcOpen(const TServiceManagerOpener& opener, const std::string& machine, const std::string& database,
                   const std::string& service, std::uint32_t access) noexcept;
TSvcHandle SvcOpen(const std::string& machine, const std::string& database, const std::string& service,
                   std::uint32_t access) noexcept;

// True when the service manager accepted the request.
bool SvcStart(TSvcHandle& handle, const std::vector<std::string>& args) noexcept;
bool SvcStop(TSvcHandle& handle) noexcept;
bool SvcPause(TSvcHandle& handle) noexcept;
bool SvcContinue(TSvcHandle& handle) noexcept;

// Closes the service, then the manager, each only if it is open. The record stays
// with its owner, empty.
void SvcClose(TSvcHandle& handle) noexcept;

}  // namespace pelorin

#endif  // PELORIN_SERVICE_SERVICECTL_H_
