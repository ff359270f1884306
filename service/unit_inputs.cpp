#include "service/unit_inputs.h"

#include <pwd.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "xml/quickdom.h"

namespace pelorin {
namespace {

constexpr const char* kStoreDirectories[] = {"", "/config", "/user", "/pelorin"};
constexpr const char* kPortElements[] = {"xConfig/ServiceProviderPort", "xConfig/HttpsPort"};
constexpr unsigned long kFirstUnprivilegedPort = 1024;

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool IsPrivilegedPort(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long port = std::stoul(text);
  return port > 0 && port < kFirstUnprivilegedPort;
}

}  // namespace

TSvcResult CheckServiceAccount(const std::string& account, const std::string& app_dir) {
  const passwd* entry = ::getpwnam(account.c_str());
  if (entry == nullptr) {
    return TSvcResult::Failure("The service runs as the account " + account +
                               ", which does not exist. Make it with \"adduser --system --group --no-create-home "
                               "--home /nonexistent " + account + "\", then give it the application directory");
  }
  for (const char* sub : kStoreDirectories) {
    const std::string dir = app_dir + sub;
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0) return TSvcResult::FromErrno(errno);
    if (info.st_uid != entry->pw_uid) {
      return TSvcResult::Failure("The service runs as the account " + account + ", which does not own " + dir +
                                 ". Give it the directory with \"chown -R " + account + ": " + app_dir + "\"");
    }
  }
  return TSvcResult::Success();
}

bool ConfiguresPrivilegedPort(const std::string& app_dir) {
  std::error_code ignored;
  std::string path = app_dir + "/config/config.xml";
  if (!std::filesystem::exists(path, ignored)) path = app_dir + "/config/configinit.xml";
  TQuickDom config;
  if (config.LoadFromFile(path) != 0) return false;
  for (const char* element : kPortElements) {
    if (config.SelectNode(element) && IsPrivilegedPort(Trimmed(config.GetText()))) return true;
  }
  return false;
}

}  // namespace pelorin
