// The platform's service manager as the controller and the installer see it: open
// the manager, open or create a service entry, start it, send it a control, delete
// it. Two Linux implementations sit behind it (systemd, local_manager.h); a handle
// is owned by whoever opened it and used on one thread. Nothing here throws on
// purpose: failures come back by value with a reason a person can read.
#ifndef PELORIN_SERVICE_SERVICE_MANAGER_H_
#define PELORIN_SERVICE_SERVICE_MANAGER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pelorin {

inline constexpr char kServiceDisplayName[] = "Pelorin  - Web Based Address Books";

// Access masks and control codes keep the values callers of a service manager
// know them by; the Linux managers pass the masks on and leave the checks to the
// system (polkit, file modes) at request time.
inline constexpr std::uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;
inline constexpr std::uint32_t SERVICE_ALL_ACCESS = 0xF01FF;
inline constexpr std::uint32_t SERVICE_CONTROL_STOP = 1;
inline constexpr std::uint32_t SERVICE_CONTROL_PAUSE = 2;
inline constexpr std::uint32_t SERVICE_CONTROL_CONTINUE = 3;

// States a control request may leave in the status record.
inline constexpr std::uint32_t SERVICE_STOPPED = 1;
inline constexpr std::uint32_t SERVICE_STOP_PENDING = 3;
inline constexpr std::uint32_t SERVICE_RUNNING = 4;
inline constexpr std::uint32_t SERVICE_PAUSED = 7;

// The status a control request reports back. Passed along, read by nobody.
struct TServiceStatus {
  std::uint32_t ServiceType = 0;
  std::uint32_t CurrentState = 0;
  std::uint32_t ControlsAccepted = 0;
  std::uint32_t Win32ExitCode = 0;
  std::uint32_t ServiceSpecificExitCode = 0;
  std::uint32_t CheckPoint = 0;
  std::uint32_t WaitHint = 0;
};

// Success, or failure with its reason (never empty on failure).
class [[nodiscard]] TSvcResult {
 public:
  static TSvcResult Success() { return TSvcResult(true, {}); }
  static TSvcResult Failure(std::string reason) {
    return TSvcResult(false, reason.empty() ? "Unknown error" : std::move(reason));
  }
  // The system's text for errno value `error`.
  static TSvcResult FromErrno(int error);

  explicit operator bool() const { return ok_; }
  const std::string& Reason() const { return reason_; }

 private:
  TSvcResult(bool ok, std::string reason) : ok_(ok), reason_(std::move(reason)) {}
  bool ok_;
  std::string reason_;
};

// What an installed entry holds. The rest is fixed for every entry: its own
// process, automatic start, restart after a failure, the service's own account.
struct TServiceEntry {
  std::string ServiceName;
  std::string DisplayName;
  std::string BinaryPath;  // full path of the executable, started without arguments
  // A configured port below 1024: only then may the unprivileged account bind it.
  bool PrivilegedPort = false;
};

// An opened service. It borrows its manager, which must outlive it.
class TService {
 public:
  virtual ~TService() = default;
  virtual TSvcResult Start(const std::vector<std::string>& args) = 0;
  // SERVICE_CONTROL_STOP, _PAUSE or _CONTINUE; `status` gets what is known after it.
  virtual TSvcResult Control(std::uint32_t code, TServiceStatus& status) = 0;
  // Removes the entry from the manager.
  virtual TSvcResult Delete() = 0;
};

// An opened service manager.
class TServiceManager {
 public:
  virtual ~TServiceManager() = default;
  // Null with `reason` set when the service is not installed or cannot be opened.
  virtual std::unique_ptr<TService> OpenService(const std::string& name, std::uint32_t access,
                                                std::string& reason) = 0;
  virtual std::unique_ptr<TService> CreateService(const TServiceEntry& entry, std::string& reason) = 0;
};

// Opens the service manager: machine and database empty for the local machine and
// its active database. Null with `reason` set on failure.
using TServiceManagerOpener = std::function<std::unique_ptr<TServiceManager>(
    const std::string& machine, const std::string& database, std::uint32_t access, std::string& reason)>;

enum class TServiceManagerKind { Systemd, Local };

// systemd when it runs (its directory `systemd_marker` exists), else the local
// manager. PELORIN_SERVICE_MANAGER ("systemd" or "local", as `choice`) overrides,
// so that a user without root rights, or a test, can use the local manager on a
// machine that runs systemd.
TServiceManagerKind ChooseServiceManager(const char* choice, const std::string& systemd_marker);

// The opener of this machine, by ChooseServiceManager with the environment and
// "/run/systemd/system".
std::unique_ptr<TServiceManager> OpenServiceManager(const std::string& machine, const std::string& database,
                                                    std::uint32_t access, std::string& reason);

// The full path of the running executable, or "" when /proc/self/exe cannot be
// read. A path the kernel marks " (deleted)" keeps the mark.
std::string ExecutablePath();

}  // namespace pelorin

#endif  // PELORIN_SERVICE_SERVICE_MANAGER_H_
