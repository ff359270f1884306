// The real executable in a temporary application directory, talked to over raw
// HTTP on 127.0.0.1: start and its failures, the saves, the signals, the log
// lines and concurrent requests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/http/server_process.h"

namespace pelorin::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kUsers[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xUser>"
    "<User><USER>admin</USER><PASSWORD>admin</PASSWORD><NAME>Administrator</NAME><ADMIN/></User>"
    "<User><USER>bob</USER><PASSWORD>pw</PASSWORD><NAME>Bob</NAME></User>"
    "</xUser>";
constexpr char kCards[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase/>";

class ServiceProcessTest : public ::testing::Test {
 protected:
  void WriteStores() {
    WriteFile(app_.File("config/config.xml"), TAppDir::ConfigWithPort(port_));
    WriteFile(app_.File("pelorin/base.xml"), kCards);
    WriteFile(app_.File("user/user.xml"), kUsers);
  }
  // Starts the process and waits until it serves.
  void StartServing(const std::vector<std::string>& env = {}) {
    server_ = std::make_unique<TServerProcess>(app_.Executable(), env);
    ASSERT_TRUE(server_->WaitForPort(port_)) << app_.LogText();
  }
  void StopAndExpectExit(int signal_number, int code) {
    server_->Signal(signal_number);
    const std::optional<int> exit_code = server_->WaitForExit();
    ASSERT_TRUE(exit_code.has_value());
    EXPECT_EQ(code, *exit_code);
  }
  TAppDir app_;
  std::uint16_t port_ = FreePort();
  std::unique_ptr<TServerProcess> server_;
};

TEST_F(ServiceProcessTest, FirstRunStoresServeAndTheStopCreatesTheStoreFiles) {
  app_.InstallFirstRunStores(port_);
  StartServing();
  const THttpAnswer answer = Request(port_, "GET", "/", "admin", "admin");
  EXPECT_EQ(302, answer.Status);
  EXPECT_EQ("../pelorin/index.htm", HeaderOf(answer, "Location"));
  EXPECT_FALSE(fs::exists(app_.File("config/config.xml")));  // nothing saved while running
  StopAndExpectExit(SIGTERM, 0);
  EXPECT_NE(std::string::npos, ReadFile(app_.File("config/config.xml")).find(std::to_string(port_)));
  EXPECT_NE(std::string::npos, ReadFile(app_.File("user/user.xml")).find("<NAME>Administrator</NAME>"));
  EXPECT_NE(std::string::npos, ReadFile(app_.File("pelorin/base.xml")).find("xBase"));
  const std::string log = app_.LogText();
  const auto start = log.find(": Starting Pelorin Version 1.0.1\r\n");
  ASSERT_NE(std::string::npos, start);
  EXPECT_LT(start, log.find(": Stopping Pelorin\r\n"));
}

TEST_F(ServiceProcessTest, ChallengeOverTheWire) {
  WriteStores();
  StartServing();
  const THttpAnswer answer = Request(port_, "GET", "/pelorin/index.htm", "", "");
  EXPECT_EQ(401, answer.Status);
  EXPECT_EQ("Basic realm=\"Please select your account.\"", HeaderOf(answer, "WWW-Authenticate"));
  EXPECT_EQ("max-age=0", HeaderOf(answer, "Cache-Control"));
  EXPECT_EQ("127.0.0.1 web service. Account required.", answer.Body);
  StopAndExpectExit(SIGTERM, 0);
}

TEST_F(ServiceProcessTest, DefaultPortWithoutAPortElement) {
  WriteStores();
  WriteFile(app_.File("config/config.xml"), "<xConfig/>");
  port_ = 9555;
  // Only meaningful where the default port is free on this machine.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(9555);
  const bool free_port = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  if (!free_port) GTEST_SKIP() << "port 9555 is in use here";
  StartServing();
  EXPECT_EQ(401, Request(9555, "GET", "/", "", "").Status);
  StopAndExpectExit(SIGTERM, 0);
}

TEST_F(ServiceProcessTest, PortInUseEndsTheStartWithExitCode1) {
  WriteStores();
  const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port_);
  ASSERT_EQ(0, ::bind(holder, reinterpret_cast<const sockaddr*>(&address), sizeof address));
  ASSERT_EQ(0, ::listen(holder, 1));
  TServerProcess server(app_.Executable());
  const std::optional<int> code = server.WaitForExit();
  ::close(holder);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(1, *code);
  const std::string log = app_.LogText();
  const auto start = log.find(": Starting Pelorin Version 1.0.1\r\n");
  const auto unable = log.find(": Unable to activate HTTP server.\r\n");
  ASSERT_NE(std::string::npos, start) << log;
  ASSERT_NE(std::string::npos, unable) << log;
  EXPECT_LT(start, unable);
  EXPECT_EQ(std::string::npos, log.find("Stopping Pelorin"));
}

TEST_F(ServiceProcessTest, StoreThatCannotBeLoadedEndsTheStart) {
  WriteStores();
  WriteFile(app_.File("user/user.xml"), "<xUser><User></xUser>");
  TServerProcess server(app_.Executable());
  const std::optional<int> code = server.WaitForExit();
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(1, *code);
  EXPECT_NE(std::string::npos, app_.LogText().find(": Could not load file " + app_.File("user/user.xml") + "\r\n"));
}

TEST_F(ServiceProcessTest, MissingConfigurationLogsTheFirstRunPath) {
  WriteFile(app_.File("pelorin/base.xml"), kCards);
  WriteFile(app_.File("user/user.xml"), kUsers);
  TServerProcess server(app_.Executable());
  const std::optional<int> code = server.WaitForExit();
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(1, *code);
  const std::string log = app_.LogText();
  EXPECT_NE(std::string::npos, log.find("Could not load file " + app_.File("config/configinit.xml") + "\r\n"));
  EXPECT_EQ(log.find("Could not load"), log.rfind("Could not load"));
}

TEST_F(ServiceProcessTest, StopSavesTheLogoutMarker) {
  WriteStores();
  StartServing({"PELORIN_SAVE_INTERVAL_MS=300"});
  EXPECT_EQ(302, Request(port_, "GET", "/logout", "bob", "pw").Status);
  // The marker arms no save: it is written by the stop.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(std::string::npos, ReadFile(app_.File("user/user.xml")).find("LOGOUT"));
  StopAndExpectExit(SIGTERM, 0);
  EXPECT_NE(std::string::npos, ReadFile(app_.File("user/user.xml")).find("<LOGOUT/>"));
}

TEST_F(ServiceProcessTest, InterruptStopsAndSavesToo) {
  app_.InstallFirstRunStores(port_);
  StartServing();
  StopAndExpectExit(SIGINT, 0);
  EXPECT_TRUE(fs::exists(app_.File("user/user.xml")));
}

TEST_F(ServiceProcessTest, PeriodicSaveFollowsTheIntervalOverride) {
  WriteStores();
  StartServing({"PELORIN_SAVE_INTERVAL_MS=300"});
  const THttpAnswer answer =
      Request(port_, "POST", "/pelorin/index.htm", "bob", "pw",
              "Command=insert&XML=%3CvCard%3E%3CFN%3ESaved+Card%3C%2FFN%3E%3C%2FvCard%3E&Redirect=index.htm");
  EXPECT_EQ(302, answer.Status);
  EXPECT_TRUE(WaitForFileText(app_, "pelorin/base.xml", "Saved Card"));
  StopAndExpectExit(SIGTERM, 0);
}

TEST_F(ServiceProcessTest, FailedSignInIsLoggedWithoutThePassword) {
  WriteStores();
  StartServing();
  EXPECT_EQ(401, Request(port_, "GET", "/pelorin/index.htm", "bob", "Hunter2\"'").Status);
  StopAndExpectExit(SIGTERM, 0);
  const std::string log = app_.LogText();
  EXPECT_NE(std::string::npos, log.find(": User (bob/********) check failed.\r\n"));
  EXPECT_EQ(std::string::npos, log.find("Hunter2"));
}

// One request sent from `source` (any address of 127.0.0.0/8 is the loopback
// interface), answered with its status; 0 when nothing came back.
int StatusFrom(const char* source, std::uint16_t port, const std::string& basic_credentials) {
  const TSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int fd = socket.get();
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::inet_pton(AF_INET, source, &address.sin_addr);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
  std::string answer;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0) {
    const std::string request = "GET /x.txt HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Basic " +
                                basic_credentials + "\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
      char buffer[4096];
      for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  return ParseAnswer(answer).Status;
}

TEST_F(ServiceProcessTest, GuessingLocksOneNameFromOneAddressOnly) {
  constexpr char kBobRight[] = "Ym9iOnB3";       // bob:pw
  constexpr char kBobWrong[] = "Ym9iOndyb25n";   // bob:wrong
  constexpr char kAdmin[] = "YWRtaW46YWRtaW4=";  // admin:admin
  WriteStores();
  StartServing();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(401, StatusFrom("127.0.0.1", port_, kBobWrong));
  EXPECT_EQ(401, StatusFrom("127.0.0.1", port_, kBobRight));  // locked: not even checked
  EXPECT_EQ(200, StatusFrom("127.0.0.2", port_, kBobRight));  // the peer address as the server saw it
  EXPECT_EQ(200, StatusFrom("127.0.0.1", port_, kAdmin));
  StopAndExpectExit(SIGTERM, 0);
  const std::string log = app_.LogText();
  EXPECT_NE(std::string::npos, log.find(": User (bob/********) locked for 60 s.\r\n")) << log;
}

TEST_F(ServiceProcessTest, PauseAndContinueKeepServing) {
  WriteStores();
  StartServing();
  server_->Signal(SIGUSR1);
  EXPECT_EQ(401, Request(port_, "GET", "/", "", "").Status);
  server_->Signal(SIGUSR2);
  EXPECT_EQ(302, Request(port_, "GET", "/", "bob", "pw").Status);
  StopAndExpectExit(SIGTERM, 0);
}

TEST_F(ServiceProcessTest, ClientsThatHangUpDoNotEndTheProcess) {
  WriteStores();
  StartServing();
  for (int i = 0; i < 20; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
    const std::string request = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    const linger reset{1, 0};  // close with a reset instead of a goodbye
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(fd);
  }
  EXPECT_EQ(302, Request(port_, "GET", "/", "bob", "pw").Status);
  StopAndExpectExit(SIGTERM, 0);
}

TEST_F(ServiceProcessTest, ConcurrentRequestsAreAllAnswered) {
  WriteStores();
  StartServing();
  constexpr int kThreads = 8;
  constexpr int kRounds = 25;
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < kThreads; ++t) {
    clients.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        switch ((t + i) % 4) {
          case 0:
            if (Request(port_, "GET", "/pelorin/x", "", "").Status != 401) ++wrong;
            break;
          case 1:
            if (Request(port_, "GET", "/pelorin/list", "bob", "pw").Status != 200) ++wrong;
            break;
          case 2:
            if (Request(port_, "GET", "/config/a.htm", "bob", "pw").Status != 403) ++wrong;
            break;
          default:
            if (Request(port_, "HEAD", "/user", "admin", "admin").Status != 302) ++wrong;
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(0, wrong.load());
  StopAndExpectExit(SIGTERM, 0);
}

}  // namespace
}  // namespace pelorin::testing
