#include "tests/http/server_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace pelorin::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Base64(const std::string& text) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < text.size(); i += 3) {
    const unsigned n = (static_cast<unsigned char>(text[i]) << 16) | (static_cast<unsigned char>(text[i + 1]) << 8) |
                       static_cast<unsigned char>(text[i + 2]);
    for (int shift : {18, 12, 6, 0}) out += kDigits[(n >> shift) & 63];
  }
  if (i + 1 == text.size()) {
    const unsigned n = static_cast<unsigned char>(text[i]) << 16;
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += "==";
  } else if (i + 2 == text.size()) {
    const unsigned n = (static_cast<unsigned char>(text[i]) << 16) | (static_cast<unsigned char>(text[i + 1]) << 8);
    for (int shift : {18, 12, 6}) out += kDigits[(n >> shift) & 63];
    out += '=';
  }
  return out;
}


}  // namespace

int ConnectLoopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  timeval timeout{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  return fd;
}

std::uint16_t FreePort() {
  TSocket probe(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (probe.get() < 0) throw std::runtime_error("no socket");
  const int no = 0;
  ::setsockopt(probe.get(), IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_any;
  if (::bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("cannot bind a probe socket");
  }
  socklen_t length = sizeof address;
  ::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin6_port);
}

TAppDir::TAppDir() {
  fs::copy_file(PELORIN_EXECUTABLE, Executable());
  for (const char* area : {"config", "pelorin", "user"}) fs::create_directory(dir_.File(area));
}

std::string TAppDir::ConfigWithPort(std::uint16_t port) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xConfig>\r\n  <ServiceProviderPort>" + std::to_string(port) +
         "</ServiceProviderPort>\r\n</xConfig>";
}

void TAppDir::InstallFirstRunStores(std::uint16_t port) {
  const std::string app = std::string(PELORIN_SOURCE_DIR) + "/app/";
  fs::copy_file(app + "user/userinit.xml", dir_.File("user/userinit.xml"));
  fs::copy_file(app + "pelorin/baseinit.xml", dir_.File("pelorin/baseinit.xml"));
  std::string config = ReadFile(app + "config/configinit.xml");
  const std::string installed = "<ServiceProviderPort>9555</ServiceProviderPort>";
  const auto at = config.find(installed);
  if (at == std::string::npos) throw std::runtime_error("configinit.xml names no port 9555");
  config.replace(at, installed.size(), "<ServiceProviderPort>" + std::to_string(port) + "</ServiceProviderPort>");
  WriteFile(dir_.File("config/configinit.xml"), config);
}

std::string TAppDir::LogText() const {
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    if (entry.path().extension() == ".log") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  std::string text;
  for (const std::string& file : files) text += ReadFile(file);
  return text;
}

TServerProcess::TServerProcess(const std::string& executable, const std::vector<std::string>& extra_env,
                               const std::vector<std::string>& launcher) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "NOTIFY_SOCKET=", 14) != 0) env.emplace_back(*entry);
  }
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> words = launcher;
  words.push_back(executable);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) {
    throw std::runtime_error("cannot start " + executable);
  }
}

TServerProcess::~TServerProcess() {
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    Reap(true);
  }
}

bool TServerProcess::Reap(bool block) {
  if (reaped_) return true;
  const pid_t done = ::waitpid(pid_, &status_, block ? 0 : WNOHANG);
  if (done == pid_) reaped_ = true;
  return reaped_;
}

bool TServerProcess::WaitForPort(std::uint16_t port, std::chrono::seconds deadline) {
  const auto until = Clock::now() + deadline;
  while (Clock::now() < until) {
    if (Reap(false)) return false;
    const int fd = ConnectLoopback(port);
    if (fd >= 0) {
      ::close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::optional<int> TServerProcess::WaitForExit(std::chrono::seconds deadline) {
  const auto until = Clock::now() + deadline;
  while (!Reap(false) && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (!reaped_ || !WIFEXITED(status_)) return std::nullopt;
  return WEXITSTATUS(status_);
}

void TServerProcess::Signal(int number) const {
  if (!reaped_) ::kill(pid_, number);
}

int ConnectLoopbackV6(std::uint16_t port) {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(port);
  address.sin6_addr = in6addr_loopback;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  timeval timeout{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  return fd;
}

bool SendAll(int fd, std::string_view bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string ReadUntilClosed(int fd) {
  std::string answer;
  char buffer[8192];
  while (true) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  return answer;
}

std::string ExchangeOver(int fd, const std::string& request) {
  if (fd < 0 || !SendAll(fd, request)) return {};
  return ReadUntilClosed(fd);
}

std::string Exchange(std::uint16_t port, const std::string& request) {
  TSocket socket(ConnectLoopback(port));
  return ExchangeOver(socket.get(), request);
}

THttpAnswer ParseAnswer(const std::string& bytes) {
  THttpAnswer answer;
  const auto end = bytes.find("\r\n\r\n");
  if (bytes.size() < 12 || end == std::string::npos) return answer;
  answer.Head = bytes.substr(0, end + 2);
  answer.Body = bytes.substr(end + 4);
  answer.Status = std::atoi(bytes.substr(9, 3).c_str());
  return answer;
}

THttpAnswer Request(std::uint16_t port, const std::string& method, const std::string& target,
                    const std::string& user, const std::string& password, const std::string& body) {
  std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  if (!user.empty() || !password.empty()) request += "Authorization: Basic " + Base64(user + ":" + password) + "\r\n";
  if (!body.empty() || method == "POST") {
    request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n";
  }
  request += "\r\n" + body;
  return ParseAnswer(Exchange(port, request));
}

std::string BasicCredentials(const std::string& user, const std::string& password) {
  return "Basic " + Base64(user + ":" + password);
}

std::string HeaderOf(const THttpAnswer& answer, const std::string& name) {
  const std::string key = "\r\n" + name + ": ";
  const auto at = answer.Head.find(key);
  if (at == std::string::npos) return {};
  const auto start = at + key.size();
  return answer.Head.substr(start, answer.Head.find("\r\n", start) - start);
}

bool WaitForFileText(const TAppDir& app, const std::string& name, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (ReadFile(app.File(name)).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace pelorin::testing
