// Black-box helpers: a temporary application directory holding a copy of the
// real executable, the process started on it, and raw HTTP over 127.0.0.1 (or ::1).
// Used from the test's main thread (the concurrency test also calls Exchange
// from its own threads).
#ifndef PELORIN_TESTS_HTTP_SERVER_PROCESS_H_
#define PELORIN_TESTS_HTTP_SERVER_PROCESS_H_

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/temp_dir.h"

namespace pelorin::testing {

// Owns one socket descriptor (or -1).
class TSocket {
 public:
  explicit TSocket(int fd) : fd_(fd) {}
  ~TSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A connection to 127.0.0.1:port with 30 s send and receive time-outs, or -1.
int ConnectLoopback(std::uint16_t port);

// The same over [::1]; -1 also where the host has no IPv6 loopback.
int ConnectLoopbackV6(std::uint16_t port);

// A port on which nothing listens right now, for IPv4 and IPv6 alike.
std::uint16_t FreePort();

// A copy of the executable with the three area directories beside it.
class TAppDir {
 public:
  TAppDir();
  const std::string& path() const { return dir_.path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }
  std::string Executable() const { return dir_.File("pelorind"); }

  // The first-run stores of the installed tree, with the port set to `port`.
  void InstallFirstRunStores(std::uint16_t port);
  static std::string ConfigWithPort(std::uint16_t port);
  // All log lines so far, day files in name order.
  std::string LogText() const;

 private:
  TTempDir dir_;
};

class TServerProcess {
 public:
  // Starts `executable` with the environment of the tests plus `extra_env` entries
  // ("NAME=value"); NOTIFY_SOCKET is removed. A `launcher` (a program and its
  // arguments, such as setpriv dropping privileges) runs the executable in place.
  TServerProcess(const std::string& executable, const std::vector<std::string>& extra_env = {},
                 const std::vector<std::string>& launcher = {});
  ~TServerProcess();  // kills a process that is still running
  TServerProcess(const TServerProcess&) = delete;
  TServerProcess& operator=(const TServerProcess&) = delete;

  // Polls connect until the port answers; false when the process ended first or
  // the deadline passed.
  bool WaitForPort(std::uint16_t port, std::chrono::seconds deadline = std::chrono::seconds(60));
  // The exit code, or nullopt when the process did not exit normally in time.
  std::optional<int> WaitForExit(std::chrono::seconds deadline = std::chrono::seconds(60));
  void Signal(int number) const;
  // The process id, for looking at or limiting the running process from outside.
  pid_t Pid() const { return pid_; }

 private:
  bool Reap(bool block);
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// A page stylesheet listing the FN of every card of the store ("A|B|"), so
// that a test can see what the store in memory holds.
inline constexpr char kNamesStylesheet[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n"
    "  <xsl:output method=\"text\"/>\n"
    "  <xsl:template match=\"/\"><xsl:for-each select=\"//FN\"><xsl:value-of select=\".\"/>|</xsl:for-each>"
    "</xsl:template>\n"
    "</xsl:stylesheet>\n";

struct THttpAnswer {
  int Status = 0;  // 0 when nothing came back
  std::string Head;
  std::string Body;
};

// Sends `request` as is and reads until the server closes.
std::string Exchange(std::uint16_t port, const std::string& request);
// The same on a connection the caller opened (and still owns); empty when fd is -1.
std::string ExchangeOver(int fd, const std::string& request);
// Every byte, false when the connection failed first.
bool SendAll(int fd, std::string_view bytes);
// What arrives until the peer closes or the receive time-out passes.
std::string ReadUntilClosed(int fd);
THttpAnswer ParseAnswer(const std::string& bytes);
// One request with Basic credentials (none when both are empty).
THttpAnswer Request(std::uint16_t port, const std::string& method, const std::string& target,
                    const std::string& user, const std::string& password, const std::string& body = "");
// The value of an "Authorization" header carrying Basic credentials.
std::string BasicCredentials(const std::string& user, const std::string& password);
// The value of a header line of the answer's head, or empty.
std::string HeaderOf(const THttpAnswer& answer, const std::string& name);

// Polls until the file `name` below the application directory holds `text`
// (the periodic save writes in its own time); false after a minute.
bool WaitForFileText(const TAppDir& app, const std::string& name, const std::string& text);

}  // namespace pelorin::testing

#endif  // PELORIN_TESTS_HTTP_SERVER_PROCESS_H_
