// The real executable controlled through its own switches with the local service
// manager: copied into a temporary application directory, started detached,
// paused, resumed and stopped, while it answers HTTP on 127.0.0.1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "service/pid_file.h"
#include "tests/temp_dir.h"

namespace pelorin {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct TControllerRun {
  bool ended = false;  // false: still running when the deadline passed (then killed)
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  std::uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

int Connect(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  ::close(fd);
  return -1;
}

bool WaitForPort(std::uint16_t port, std::chrono::seconds deadline) {
  const auto until = Clock::now() + deadline;
  while (Clock::now() < until) {
    if (const int fd = Connect(port); fd >= 0) {
      ::close(fd);
      return true;
    }
    std::this_thread::sleep_for(milliseconds(50));
  }
  return false;
}

// The status line of the answer to an unauthenticated GET.
std::string StatusLine(std::uint16_t port) {
  const int fd = Connect(port);
  if (fd < 0) return "no connection";
  const std::string request = "GET /pelorin/index.htm HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  (void)!::write(fd, request.data(), request.size());
  std::string answer;
  char buffer[1024];
  ssize_t got;
  while (answer.find("\r\n") == std::string::npos && (got = ::read(fd, buffer, sizeof buffer)) > 0) {
    answer.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return answer.substr(0, answer.find("\r\n"));
}

class ControlE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The detached service is adopted by this process, so that it can be reaped.
    ASSERT_EQ(0, ::prctl(PR_SET_CHILD_SUBREAPER, 1));
    // The local manager even where systemd runs: it is the one under test.
    ::setenv("PELORIN_SERVICE_MANAGER", "local", 1);
    ::unsetenv("NOTIFY_SOCKET");
    app_dir_ = dir_.File("app");
    fs::copy(std::string(PELORIN_SOURCE_DIR) + "/app", app_dir_, fs::copy_options::recursive);
    executable_ = app_dir_ + "/pelorind";
    fs::copy_file(PELORIN_EXECUTABLE, executable_);
    port_ = FreePort();
    ASSERT_NE(0, port_);
    testing::WriteFile(app_dir_ + "/config/config.xml",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xConfig>\n  <ServiceProviderPort>" +
                           std::to_string(port_) + "</ServiceProviderPort>\n</xConfig>\n");
  }

  void TearDown() override {
    if (const pid_t pid = FindLiveService(app_dir_, executable_); pid != 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }

  // Runs the copied executable with `args` and collects its output; one that has
  // not ended by the deadline is stopped and reported as not ended.
  TControllerRun Run(const std::vector<std::string>& args, std::chrono::seconds deadline = std::chrono::seconds(40)) {
    TControllerRun run;
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return run;
    std::vector<char*> argv = {executable_.data()};
    std::vector<std::string> copies = args;
    for (auto& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    const auto until = Clock::now() + deadline;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open_streams = 2;
    while (open_streams > 0 && Clock::now() < until) {
      if (::poll(fds, 2, 100) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char buffer[512];
        const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
        if (got > 0) {
          (i == 0 ? run.out : run.err).append(buffer, static_cast<std::size_t>(got));
        } else {
          ::close(fds[i].fd);
          fds[i].fd = -1;
          --open_streams;
        }
      }
    }
    for (const auto& fd : fds) {
      if (fd.fd >= 0) ::close(fd.fd);
    }
    int status = 0;
    if (open_streams > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, &status, 0);
      return run;
    }
    ::waitpid(pid, &status, 0);
    run.ended = WIFEXITED(status);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  testing::TTempDir dir_;
  std::string app_dir_;
  std::string executable_;
  std::uint16_t port_ = 0;
};

TEST_F(ControlE2ETest, StartPauseResumeStop) {
  const TControllerRun start = Run({"/START"}, std::chrono::seconds(10));
  ASSERT_TRUE(start.ended) << start.out << start.err;
  ASSERT_TRUE(WaitForPort(port_, std::chrono::seconds(30)));
  ASSERT_NE(0, FindLiveService(app_dir_, executable_));
  EXPECT_EQ(0, start.exit_code);
  EXPECT_EQ("Starting service.\n", start.out);
  EXPECT_EQ("", start.err);
  const pid_t pid = FindLiveService(app_dir_, executable_);
  EXPECT_EQ(std::to_string(pid) + "\n", testing::ReadFile(app_dir_ + "/pelorind.pid"));
  EXPECT_EQ("HTTP/1.1 401 Unauthorized", StatusLine(port_));

  const TControllerRun twice = Run({"/start"});
  EXPECT_EQ(0, twice.exit_code);
  EXPECT_EQ("Starting service.\n", twice.out);
  EXPECT_EQ(pid, FindLiveService(app_dir_, executable_));  // the running one stays

  const TControllerRun pause = Run({"/PAUSE"});
  EXPECT_EQ(0, pause.exit_code);
  EXPECT_EQ("Service paused.\n", pause.out);
  EXPECT_EQ("HTTP/1.1 401 Unauthorized", StatusLine(port_));  // paused in name only

  const TControllerRun resume = Run({"/SILENT", "/RESUME"});
  EXPECT_EQ(0, resume.exit_code);
  EXPECT_EQ("", resume.out);
  EXPECT_EQ("HTTP/1.1 401 Unauthorized", StatusLine(port_));

  const TControllerRun stop = Run({"/STOP"});
  EXPECT_EQ(0, stop.exit_code);
  EXPECT_EQ("Stopping service.\n", stop.out);
  EXPECT_EQ("", stop.err);
  // The stop waited for the end: the process is gone (a zombie of ours at most),
  // ended cleanly, its pid file removed and the stores written.
  int status = -1;
  EXPECT_EQ(pid, ::waitpid(pid, &status, WNOHANG));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(fs::exists(app_dir_ + "/pelorind.pid"));
  EXPECT_TRUE(fs::exists(app_dir_ + "/pelorin/base.xml"));
  EXPECT_TRUE(fs::exists(app_dir_ + "/user/user.xml"));
  EXPECT_EQ(-1, Connect(port_));
}

TEST_F(ControlE2ETest, StopWithoutServiceStillShowsItsMessage) {
  const TControllerRun quiet = Run({"/SILENT", "/STOP"}, std::chrono::seconds(10));
  ASSERT_TRUE(quiet.ended);
  EXPECT_EQ(0, quiet.exit_code);
  EXPECT_EQ("", quiet.out);
  EXPECT_EQ("", quiet.err);

  const TControllerRun stop = Run({"/stop"});
  EXPECT_EQ(0, stop.exit_code);
  EXPECT_EQ("Stopping service.\n", stop.out);
  EXPECT_EQ("", stop.err);
}

TEST_F(ControlE2ETest, InstallWithoutSystemdFailsWithItsMessage) {
  const TControllerRun install = Run({"/INSTALL", "/SILENT"}, std::chrono::seconds(10));
  ASSERT_TRUE(install.ended);
  EXPECT_EQ(1, install.exit_code);
  EXPECT_EQ("", install.out);
  EXPECT_EQ(0u, install.err.find("Service \"Pelorin  - Web Based Address Books\" failed to install with error: \""))
      << install.err;
  EXPECT_NE(std::string::npos, install.err.find("systemd is not running")) << install.err;
}

}  // namespace
}  // namespace pelorin
