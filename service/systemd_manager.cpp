#include "service/systemd_manager.h"

#include <csignal>
#include <cstring>
#include <filesystem>
#include <utility>

#include <systemd/sd-bus.h>

#include "service/unit_file.h"
#include "service/unit_inputs.h"

namespace pelorin {
namespace {

constexpr char kDestination[] = "org.freedesktop.systemd1";
constexpr char kObjectPath[] = "/org/freedesktop/systemd1";
constexpr char kManagerInterface[] = "org.freedesktop.systemd1.Manager";
// A new job replaces a conflicting one, as a person at the keyboard expects.
constexpr char kJobMode[] = "replace";
// KillUnit: the signal goes to the service's main process only.
constexpr char kKillWhom[] = "main";

struct TBusRelease {
  void operator()(sd_bus* bus) const noexcept { sd_bus_flush_close_unref(bus); }
};
using TBusPtr = std::unique_ptr<sd_bus, TBusRelease>;

// The error of one call, freed with it.
class TBusError {
 public:
  TBusError() = default;
  ~TBusError() { sd_bus_error_free(&error_); }
  TBusError(const TBusError&) = delete;
  TBusError& operator=(const TBusError&) = delete;

  sd_bus_error* Get() { return &error_; }
  // systemd's own message ("Access denied", "Unit ... not found.") says more than
  // the errno it maps to; the errno's text serves when there is none.
  TSvcResult Failure(int result) const {
    if (error_.message != nullptr && *error_.message != '\0') return TSvcResult::Failure(error_.message);
    return TSvcResult::FromErrno(-result);
  }

 private:
  sd_bus_error error_{};  // the same as SD_BUS_ERROR_NULL, without a C compound literal
};

class TSystemdManager final : public TServiceManager {
 public:
  explicit TSystemdManager(TBusPtr bus) : bus_(std::move(bus)) {}

  // One method call on systemd's manager object; the reply is not needed.
  template <typename... Args>
  TSvcResult Call(const char* method, const char* types, Args... args) {
    TBusError error;
    const int result = sd_bus_call_method(bus_.get(), kDestination, kObjectPath, kManagerInterface, method,
                                          error.Get(), nullptr, types, args...);
    return result < 0 ? error.Failure(result) : TSvcResult::Success();
  }

  std::unique_ptr<TService> OpenService(const std::string& name, std::uint32_t access, std::string& reason) override;
  std::unique_ptr<TService> CreateService(const TServiceEntry& entry, std::string& reason) override;

 private:
  TBusPtr bus_;
};

class TSystemdService final : public TService {
 public:
  TSystemdService(TSystemdManager& manager, std::string name)
      : manager_(manager), name_(std::move(name)), unit_(UnitFileName(name_)) {}

  TSvcResult Start(const std::vector<std::string>& args) override {
    if (!args.empty()) return TSvcResult::Failure("systemd cannot pass start arguments to a service");
    return manager_.Call("StartUnit", "ss", unit_.c_str(), kJobMode);
  }

  TSvcResult Control(std::uint32_t code, TServiceStatus& status) override {
    TSvcResult result = TSvcResult::Failure("The control code " + std::to_string(code) + " is not supported");
    if (code == SERVICE_CONTROL_STOP) {
      result = manager_.Call("StopUnit", "ss", unit_.c_str(), kJobMode);
      if (result) status.CurrentState = SERVICE_STOP_PENDING;
    } else if (code == SERVICE_CONTROL_PAUSE || code == SERVICE_CONTROL_CONTINUE) {
      const bool pause = code == SERVICE_CONTROL_PAUSE;
      result = manager_.Call("KillUnit", "ssi", unit_.c_str(), kKillWhom, pause ? SIGUSR1 : SIGUSR2);
      if (result) status.CurrentState = pause ? SERVICE_PAUSED : SERVICE_RUNNING;
    }
    return result;
  }

  TSvcResult Delete() override {
    if (TSvcResult disabled = manager_.Call("DisableUnitFiles", "asb", 1, unit_.c_str(), 0); !disabled) return disabled;
    if (TSvcResult removed = RemoveUnitFile(kSystemdUnitDirectory, name_); !removed) return removed;
    return manager_.Call("Reload", nullptr);
  }

 private:
  TSystemdManager& manager_;
  std::string name_;
  std::string unit_;
};

std::unique_ptr<TService> TSystemdManager::OpenService(const std::string& name, std::uint32_t /*access*/,
                                                       std::string& reason) {
  // An installed service is one whose unit file systemd knows.
  TSvcResult known = Call("GetUnitFileState", "s", UnitFileName(name).c_str());
  if (!known) {
    reason = "The service " + name + " is not installed: " + known.Reason();
    return nullptr;
  }
  return std::make_unique<TSystemdService>(*this, name);
}

std::unique_ptr<TService> TSystemdManager::CreateService(const TServiceEntry& requested, std::string& reason) {
  // The unit runs the service as its own account, which must be able to write
  // the application directory, or systemd would start a service that fails.
  const std::string app_dir = std::filesystem::path(requested.BinaryPath).parent_path().string();
  if (TSvcResult account = CheckServiceAccount(kServiceAccount, app_dir); !account) {
    reason = account.Reason();
    return nullptr;
  }
  TServiceEntry entry = requested;
  entry.PrivilegedPort = ConfiguresPrivilegedPort(app_dir);
  if (TSvcResult written = WriteUnitFile(kSystemdUnitDirectory, entry); !written) {
    reason = written.Reason();
    return nullptr;
  }
  const std::string unit = UnitFileName(entry.ServiceName);
  TSvcResult enabled = Call("Reload", nullptr);
  if (enabled) enabled = Call("EnableUnitFiles", "asbb", 1, unit.c_str(), 0, 0);
  if (!enabled) {
    // Half an entry helps nobody: the unit goes again, and the failure is reported.
    (void)RemoveUnitFile(kSystemdUnitDirectory, entry.ServiceName);
    (void)Call("Reload", nullptr);
    reason = enabled.Reason();
    return nullptr;
  }
  return std::make_unique<TSystemdService>(*this, entry.ServiceName);
}

}  // namespace

std::unique_ptr<TServiceManager> OpenSystemdManager(std::uint32_t /*access*/, std::string& reason) {
  sd_bus* bus = nullptr;
  const int result = sd_bus_open_system(&bus);
  if (result < 0) {
    reason = "Cannot reach systemd on the system bus: " + TSvcResult::FromErrno(-result).Reason();
    return nullptr;
  }
  return std::make_unique<TSystemdManager>(TBusPtr(bus));
}

}  // namespace pelorin
