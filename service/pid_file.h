// The pid file of a service process run by the local service manager: the
// process claims "pelorind.pid" in its application directory for its whole life,
// and controllers find it there. Claimed and released on the service's main
// thread; the lookup runs in the controller process.
#ifndef PELORIN_SERVICE_PID_FILE_H_
#define PELORIN_SERVICE_PID_FILE_H_

#include <sys/types.h>

#include <string>

namespace pelorin {

inline constexpr char kPidFileName[] = "pelorind.pid";

// Owns the claim: the file holds the pid and carries an open-file lock for as long
// as the claim lasts. The kernel drops the lock when the process dies, so a file
// left by a crash is known as stale and replaced, and a pid that the system has
// since given to another process is never mistaken for the service.
class TPidFile {
 public:
  TPidFile() = default;
  ~TPidFile() { Release(); }
  TPidFile(const TPidFile&) = delete;
  TPidFile& operator=(const TPidFile&) = delete;

  // Claims app_dir/pelorind.pid for this process, replacing a stale file. False
  // when a live service process holds it, or it cannot be written; Reason() says
  // which. The file appears whole, never half written.
  [[nodiscard]] bool Acquire(const std::string& app_dir);
  // Removes the file if this process still holds it. Called by the destructor.
  void Release() noexcept;

  bool Held() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }
  const std::string& Reason() const { return reason_; }

 private:
  int fd_ = -1;
  std::string path_;
  std::string reason_;
};

// The pid of the live service process that holds app_dir/pelorind.pid and runs
// `executable` (a full path, as /proc/<pid>/exe shows it); 0 when there is none.
pid_t FindLiveService(const std::string& app_dir, const std::string& executable);

// True when process `pid` runs `executable`. An executable replaced on disk while
// it runs still counts as the same path.
bool RunsExecutable(pid_t pid, const std::string& executable);

}  // namespace pelorin

#endif  // PELORIN_SERVICE_PID_FILE_H_
