// A service manager double for the command line and the control client: it
// records every call in a journal and fails or throws where a test tells it to.
#ifndef PELORIN_TESTS_SERVICE_FAKE_SERVICE_MANAGER_H_
#define PELORIN_TESTS_SERVICE_FAKE_SERVICE_MANAGER_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "service/message_box.h"
#include "service/service_manager.h"

namespace pelorin::testing {

// How the double behaves, and what it was asked, in order.
struct TFakeScript {
  bool manager_opens = true;
  bool service_opens = true;
  bool requests_succeed = true;
  bool requests_throw = false;
  bool opener_throws = false;
  bool create_succeeds = true;
  bool delete_succeeds = true;
  std::string reason = "Access is denied.";
  std::vector<std::string> journal;
};

inline std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

class TFakeService final : public TService {
 public:
  explicit TFakeService(TFakeScript& script) : script_(script) {}
  ~TFakeService() override { script_.journal.push_back("close-service"); }

  TSvcResult Start(const std::vector<std::string>& args) override {
    return Request("start args=" + std::to_string(args.size()));
  }
  TSvcResult Control(std::uint32_t code, TServiceStatus& status) override {
    status.CurrentState = 100 + code;  // shows that the handle's record was passed
    return Request("control " + std::to_string(code));
  }
  TSvcResult Delete() override {
    script_.journal.push_back("delete");
    return script_.delete_succeeds ? TSvcResult::Success() : TSvcResult::Failure(script_.reason);
  }

 private:
  TSvcResult Request(const std::string& entry) {
    script_.journal.push_back(entry);
    if (script_.requests_throw) throw std::runtime_error("broken manager");
    return script_.requests_succeed ? TSvcResult::Success() : TSvcResult::Failure(script_.reason);
  }
  TFakeScript& script_;
};

class TFakeManager final : public TServiceManager {
 public:
  explicit TFakeManager(TFakeScript& script) : script_(script) {}
  ~TFakeManager() override { script_.journal.push_back("close-manager"); }

  std::unique_ptr<TService> OpenService(const std::string& name, std::uint32_t access,
                                        std::string& reason) override {
    script_.journal.push_back("open-service " + name + " " + Hex(access));
    if (!script_.service_opens) {
      reason = "The specified service does not exist as an installed service.";
      return nullptr;
    }
    return std::make_unique<TFakeService>(script_);
  }
  std::unique_ptr<TService> CreateService(const TServiceEntry& entry, std::string& reason) override {
    script_.journal.push_back("create " + entry.ServiceName + "|" + entry.DisplayName + "|" + entry.BinaryPath);
    if (!script_.create_succeeds) {
      reason = script_.reason;
      return nullptr;
    }
    return std::make_unique<TFakeService>(script_);
  }

 private:
  TFakeScript& script_;
};

inline TServiceManagerOpener FakeOpener(TFakeScript& script) {
  return [&script](const std::string& machine, const std::string& database, std::uint32_t access,
                   std::string& reason) -> std::unique_ptr<TServiceManager> {
    script.journal.push_back("open-manager '" + machine + "' '" + database + "' " + Hex(access));
    if (script.opener_throws) throw std::runtime_error("broken opener");
    if (!script.manager_opens) {
      reason = "Cannot reach systemd on the system bus: Permission denied";
      return nullptr;
    }
    return std::make_unique<TFakeManager>(script);
  };
}

class TRecordingMessageBox final : public TMessageBox {
 public:
  void Information(const std::string& text) override { information.push_back(text); }
  void Error(const std::string& text) override { errors.push_back(text); }
  std::vector<std::string> information;
  std::vector<std::string> errors;
};

}  // namespace pelorin::testing

#endif  // PELORIN_TESTS_SERVICE_FAKE_SERVICE_MANAGER_H_
