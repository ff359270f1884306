// A stand-in for the service process in the local manager's tests: it claims its
// pid file like the service, records how it was started and which signals it got,
// and ends on SIGTERM (unless PELORIN_FAKE_IGNORE_TERM is set).
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "service/pid_file.h"
#include "service/service_manager.h"

namespace {

std::string LinkTarget(const std::string& link) {
  char buffer[4096];
  const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
  return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : "?";
}

// Its session, where the standard streams go, and every other descriptor it was
// given (collected before the report file is opened).
void RecordStart(const std::string& dir) {
  std::string report = "sid=" + std::to_string(::getsid(0)) + "\n";
  report += "cwd=" + LinkTarget("/proc/self/cwd") + "\n";
  for (int fd = 0; fd < 3; ++fd) report += "fd" + std::to_string(fd) + "=" + LinkTarget("/proc/self/fd/" + std::to_string(fd)) + "\n";
  if (DIR* fds = ::opendir("/proc/self/fd")) {
    const int own = ::dirfd(fds);
    while (const dirent* entry = ::readdir(fds)) {
      const int fd = std::atoi(entry->d_name);
      if (entry->d_name[0] == '.' || fd < 3 || fd == own) continue;
      report += "extra=" + LinkTarget("/proc/self/fd/" + std::string(entry->d_name)) + "\n";
    }
    ::closedir(fds);
  }
  std::ofstream(dir + "/fake-start.txt") << report;
}

}  // namespace

int main() {
  sigset_t handled;
  ::sigemptyset(&handled);
  ::sigaddset(&handled, SIGTERM);
  ::sigaddset(&handled, SIGUSR1);
  ::sigaddset(&handled, SIGUSR2);
  ::sigprocmask(SIG_BLOCK, &handled, nullptr);

  const std::string exe = pelorin::ExecutablePath();
  const std::string dir = exe.substr(0, exe.rfind('/'));
  RecordStart(dir);
  pelorin::TPidFile claim;
  if (!claim.Acquire(dir)) return 1;
  const bool ignore_term = std::getenv("PELORIN_FAKE_IGNORE_TERM") != nullptr;
  for (;;) {
    int number = 0;
    if (::sigwait(&handled, &number) != 0) return 1;
    if (number == SIGTERM && !ignore_term) return 0;
    std::ofstream(dir + "/fake-signals.txt", std::ios::app) << (number == SIGUSR1 ? "USR1" : number == SIGUSR2 ? "USR2" : "TERM") << "\n";
  }
}
