#include "service/local_manager.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>
#include <utility>

#include "service/event_log.h"
#include "service/pid_file.h"

namespace pelorin {
namespace {

constexpr std::chrono::milliseconds kStopPollInterval{50};

// Runs in the forked children, where only async-signal-safe calls are allowed:
// reports errno through the pipe that exec closes, and ends.
[[noreturn]] void FailChild(int report_fd) {
  const int error = errno;
  (void)!::write(report_fd, &error, sizeof error);
  ::_exit(127);
}

// Starts `executable` with no arguments in a session of its own, detached from the
// controller (a grandchild, adopted by init), its standard streams on /dev/null and
// no descriptor of ours left open. Success once exec has succeeded.
TSvcResult SpawnDetached(const std::string& executable) {
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return TSvcResult::FromErrno(errno);
  char* const argv[] = {const_cast<char*>(executable.c_str()), nullptr};
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    return TSvcResult::FromErrno(error);
  }
  if (child == 0) {
    ::close(report[0]);
    if (::setsid() < 0) FailChild(report[1]);
    const pid_t grandchild = ::fork();
    if (grandchild < 0) FailChild(report[1]);
    if (grandchild > 0) ::_exit(0);
    const int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd < 0 || ::dup2(null_fd, 0) < 0 || ::dup2(null_fd, 1) < 0 || ::dup2(null_fd, 2) < 0) {
      FailChild(report[1]);
    }
    // Whatever the caller left open without O_CLOEXEC must not reach the service.
    (void)::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::chdir("/") != 0) FailChild(report[1]);
    ::execv(argv[0], argv);
    FailChild(report[1]);
  }
  ::close(report[1]);
  int error = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (got == static_cast<ssize_t>(sizeof error)) {
    return TSvcResult::Failure("Cannot start " + executable + ": " + TSvcResult::FromErrno(error).Reason());
  }
  return TSvcResult::Success();
}

// A descriptor of the process itself, so that neither the signal nor the wait can
// reach another process that the system gave the same pid. -1 where the kernel
// has no pidfd. Called through syscall(): the C library's wrappers are newer than
// some of the systems this runs on.
int OpenProcess(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

int SendSignal(int process, int signal_number) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, process, signal_number, nullptr, 0));
}

class TLocalService final : public TService {
 public:
  TLocalService(std::string executable, std::string app_dir, std::chrono::milliseconds stop_timeout)
      : executable_(std::move(executable)), app_dir_(std::move(app_dir)), stop_timeout_(stop_timeout) {}

  TSvcResult Start(const std::vector<std::string>& args) override {
    if (!args.empty()) return TSvcResult::Failure("The service takes no start arguments");
    if (FindLiveService(app_dir_, executable_) != 0) {
      return TSvcResult::Failure("An instance of the service is already running");
    }
    return SpawnDetached(executable_);
  }

  TSvcResult Control(std::uint32_t code, TServiceStatus& status) override {
    int signal_number = 0;
    if (code == SERVICE_CONTROL_STOP) signal_number = SIGTERM;
    if (code == SERVICE_CONTROL_PAUSE) signal_number = SIGUSR1;
    if (code == SERVICE_CONTROL_CONTINUE) signal_number = SIGUSR2;
    if (signal_number == 0) return TSvcResult::Failure("The control code " + std::to_string(code) + " is not supported");
    const pid_t pid = FindLiveService(app_dir_, executable_);
    if (pid == 0) return TSvcResult::Failure("The service has not been started");
    const int process = OpenProcess(pid);
    TSvcResult result = Signal(pid, process, signal_number);
    if (result && code == SERVICE_CONTROL_STOP) result = WaitForExit(process);
    if (process >= 0) ::close(process);
    if (result) status.CurrentState = code == SERVICE_CONTROL_STOP    ? SERVICE_STOPPED
                                      : code == SERVICE_CONTROL_PAUSE ? SERVICE_PAUSED
                                                                      : SERVICE_RUNNING;
    return result;
  }

  TSvcResult Delete() override { return TSvcResult::Failure(kNoSystemdReason); }

 private:
  TSvcResult Signal(pid_t pid, int process, int signal_number) {
    int sent = -1;
    if (process >= 0) {
      // Checked again now that the descriptor pins the process down.
      if (!RunsExecutable(pid, executable_)) return TSvcResult::Failure("The service has not been started");
      sent = SendSignal(process, signal_number);
    } else {
      sent = ::kill(pid, signal_number);
    }
    if (sent != 0 && errno == ESRCH) return TSvcResult::Failure("The service has not been started");
    return sent == 0 ? TSvcResult::Success() : TSvcResult::FromErrno(errno);
  }

  // The process has ended when its descriptor turns readable; without one, when
  // its claim on the pid file is gone.
  TSvcResult WaitForExit(int process) {
    const auto deadline = std::chrono::steady_clock::now() + stop_timeout_;
    while (std::chrono::steady_clock::now() < deadline) {
      if (process >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{process, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (polled > 0) return TSvcResult::Success();
        if (polled < 0 && errno != EINTR) return TSvcResult::FromErrno(errno);
      } else {
        if (FindLiveService(app_dir_, executable_) == 0) return TSvcResult::Success();
        std::this_thread::sleep_for(kStopPollInterval);
      }
    }
    return TSvcResult::Failure("The service did not stop within " + std::to_string(stop_timeout_.count() / 1000) +
                               " seconds");
  }

  std::string executable_;
  std::string app_dir_;
  std::chrono::milliseconds stop_timeout_;
};

class TLocalManager final : public TServiceManager {
 public:
  TLocalManager(std::string executable, std::string app_dir, std::chrono::milliseconds stop_timeout)
      : executable_(std::move(executable)), app_dir_(std::move(app_dir)), stop_timeout_(stop_timeout) {}

  std::unique_ptr<TService> OpenService(const std::string& name, std::uint32_t /*access*/,
                                        std::string& reason) override {
    if (name != kServiceName) {
      reason = "The service " + name + " is not known here; only " + kServiceName + " is";
      return nullptr;
    }
    return std::make_unique<TLocalService>(executable_, app_dir_, stop_timeout_);
  }

  std::unique_ptr<TService> CreateService(const TServiceEntry& /*entry*/, std::string& reason) override {
    reason = kNoSystemdReason;
    return nullptr;
  }

 private:
  std::string executable_;
  std::string app_dir_;
  std::chrono::milliseconds stop_timeout_;
};

}  // namespace

std::unique_ptr<TServiceManager> OpenLocalManager(const std::string& executable, std::string& reason,
                                                  std::chrono::milliseconds stop_timeout) {
  const std::size_t slash = executable.rfind('/');
  if (executable.empty() || executable.front() != '/' || slash == std::string::npos) {
    reason = "Cannot find the executable's own path";
    return nullptr;
  }
  return std::make_unique<TLocalManager>(executable, executable.substr(0, slash), stop_timeout);
}

}  // namespace pelorin
