#include "service/service_host.h"

#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <system_error>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <systemd/sd-daemon.h>

#include "service/event_log.h"
#include "service/vcard_main.h"

namespace pelorin {
namespace {

constexpr long long kMaxSaveIntervalMs = 24LL * 60 * 60 * 1000;

// Whatever escapes a service handler ends here, in the system event log, never in
// the event loop. False when the handler failed.
template <typename Handler>
bool RunServiceHandler(const char* action, Handler&& handler) noexcept {
  try {
    handler();
    return true;
  } catch (const std::exception& e) {
    WriteEventLog(kServiceName, std::string("Service failed on ") + action + ": " + e.what());
  } catch (...) {
    WriteEventLog(kServiceName, std::string("Service failed on ") + action + ": unknown failure");
  }
  return false;
}

// Status for systemd; does nothing when the process was not started with
// NOTIFY_SOCKET set.
void Notify(const char* state) { (void)::sd_notify(0, state); }

// The main thread's view of the service: the signals that stop, pause and
// continue it arrive here through the event loop, never inside a signal handler.
class TServiceRun {
 public:
  TServiceRun(boost::asio::io_context& loop, TPelorinService& service)
      : loop_(loop), service_(service), signals_(loop, SIGTERM, SIGINT, SIGUSR1) {
    signals_.add(SIGUSR2);
  }

  void WaitForSignal() {
    signals_.async_wait([this](const boost::system::error_code& ec, int number) {
      if (ec) return;
      if (number == SIGTERM || number == SIGINT) return Stop();
      // The module has no pause or continue handler: only the status changes, and
      // the server keeps serving.
      const bool pause = number == SIGUSR1;
      RunServiceHandler(pause ? "pause" : "continue", [pause] { Notify(pause ? "STATUS=Paused" : "STATUS=Running"); });
      WaitForSignal();
    });
  }

  int ExitCode() const { return exit_code_; }

 private:
  // The signals stay caught until the process ends, so a second SIGTERM cannot
  // kill the process in the middle of the last save.
  void Stop() {
    Notify("STOPPING=1");
    bool stopped = true;
    if (!RunServiceHandler("stop", [this, &stopped] { service_.ServiceStop(stopped); })) stopped = false;
    exit_code_ = stopped ? 0 : 1;
    loop_.stop();
  }

  boost::asio::io_context& loop_;
  TPelorinService& service_;
  boost::asio::signal_set signals_;
  int exit_code_ = 0;
};

}  // namespace

std::optional<std::string> ExecutableDirectory() {
  char buffer[4096];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return std::nullopt;
  std::string path(buffer, static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  return path.substr(0, slash);
}

std::optional<std::chrono::milliseconds> SaveIntervalOverride(const char* value) {
  if (value == nullptr) return std::nullopt;
  const std::string_view text(value);
  long long ms = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
  if (ec != std::errc() || end != text.data() + text.size() || ms < 1 || ms > kMaxSaveIntervalMs) {
    return std::nullopt;
  }
  return std::chrono::milliseconds(ms);
}

int RunServiceProcess(const std::string& app_dir) {
  // A client hanging up must not kill the process, and a file-size limit must fail
  // a save rather than end the process with the stores unsaved.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);

  boost::asio::io_context loop(1);
  const auto interval = SaveIntervalOverride(std::getenv("PELORIN_SAVE_INTERVAL_MS")).value_or(kSaveInterval);
  TPelorinService service(loop, interval);
  // Caught before the start, so that a stop asked for during the start waits for it.
  TServiceRun run(loop, service);
  run.WaitForSignal();

  bool started = true;
  if (!RunServiceHandler("start", [&] { service.ServiceStart(app_dir, started); })) started = false;
  if (!started) return 1;
  Notify("READY=1\nSTATUS=Running");
  loop.run();
  return run.ExitCode();
}

}  // namespace pelorin
