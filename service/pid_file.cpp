#include "service/pid_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

#include "io/durable_file.h"

namespace pelorin {
namespace {

// Another claimant may replace a stale file between our look and our claim; a few
// rounds settle it.
constexpr int kClaimAttempts = 5;
constexpr char kDeletedMark[] = " (deleted)";

std::string ErrnoText(int error) {
  char buffer[256];
  return ::strerror_r(error, buffer, sizeof buffer);
}

// Open-file-description locks: they belong to the open file, not the process, so
// closing another descriptor of the same file never drops them, and a second
// claim from the same process conflicts like any other.
struct flock WholeFile(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return lock;
}

bool TryLock(int fd) {
  struct flock lock = WholeFile(F_WRLCK);
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool IsLocked(int fd) {
  struct flock lock = WholeFile(F_WRLCK);
  if (::fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

bool NamesSameFile(int fd, const std::string& path) {
  struct stat open_file {};
  struct stat named {};
  if (::fstat(fd, &open_file) != 0 || ::lstat(path.c_str(), &named) != 0) return false;
  return open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

// The pid in the file, 0 when it holds no plausible pid.
pid_t ReadPid(int fd) {
  char buffer[32];
  const ssize_t length = ::pread(fd, buffer, sizeof buffer, 0);
  if (length <= 0) return 0;
  std::string_view text(buffer, static_cast<std::size_t>(length));
  if (text.back() == '\n') text.remove_suffix(1);
  int pid = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), pid);
  if (ec != std::errc() || end != text.data() + text.size() || pid <= 0) return 0;
  return pid;
}

std::string_view WithoutDeletedMark(std::string_view path) {
  const std::string_view mark(kDeletedMark);
  if (path.size() > mark.size() && path.substr(path.size() - mark.size()) == mark) {
    path.remove_suffix(mark.size());
  }
  return path;
}

// A new file holding our pid, already locked, beside `path`. -1 with `reason` set.
int MakeClaim(const std::string& path, std::string& temp_path, std::string& reason) {
  temp_path = path + ".XXXXXX";
  const int fd = ::mkostemp(temp_path.data(), O_CLOEXEC);
  if (fd < 0) {
    reason = "Cannot create the pid file beside " + path + ": " + ErrnoText(errno);
    return -1;
  }
  const std::string text = std::to_string(::getpid()) + "\n";
  if (!TryLock(fd) || ::fchmod(fd, 0644) != 0 ||
      !WriteAll(fd, text)) {
    reason = "Cannot write the pid file " + temp_path + ": " + ErrnoText(errno);
    ::close(fd);
    ::unlink(temp_path.c_str());
    return -1;
  }
  return fd;
}

}  // namespace

bool TPidFile::Acquire(const std::string& app_dir) {
  Release();
  reason_.clear();
  path_ = app_dir + "/" + kPidFileName;
  std::string temp_path;
  const int fd = MakeClaim(path_, temp_path, reason_);
  if (fd < 0) return false;
  for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
    if (::link(temp_path.c_str(), path_.c_str()) == 0) {
      ::unlink(temp_path.c_str());
      fd_ = fd;
      return true;
    }
    if (errno != EEXIST) {
      reason_ = "Cannot create the pid file " + path_ + ": " + ErrnoText(errno);
      break;
    }
    const int old = ::open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (old < 0 && errno == ENOENT) continue;  // removed meanwhile: link again
    if (old < 0) {
      reason_ = "Cannot open the pid file " + path_ + ": " + ErrnoText(errno);
      break;
    }
    if (!TryLock(old)) {
      reason_ = "The service already runs from " + app_dir + " (process " + std::to_string(ReadPid(old)) + ")";
      ::close(old);
      break;
    }
    // The stale file is ours now; replacing it while we hold its lock keeps any
    // other claimant from doing the same. It must still be the file at the path.
    const bool replaced = NamesSameFile(old, path_) && ::rename(temp_path.c_str(), path_.c_str()) == 0;
    ::close(old);
    if (replaced) {
      fd_ = fd;
      return true;
    }
  }
  if (reason_.empty()) reason_ = "Cannot claim the pid file " + path_ + ": it keeps changing";
  ::close(fd);
  ::unlink(temp_path.c_str());
  return false;
}

void TPidFile::Release() noexcept {
  if (fd_ < 0) return;
  // Our lock keeps others from replacing the file, so it is still ours if it is
  // the same file.
  if (NamesSameFile(fd_, path_)) ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
}

pid_t FindLiveService(const std::string& app_dir, const std::string& executable) {
  const std::string path = app_dir + "/" + kPidFileName;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  // An unlocked file was left by a process that is gone.
  const pid_t pid = IsLocked(fd) ? ReadPid(fd) : 0;
  ::close(fd);
  return pid > 0 && RunsExecutable(pid, executable) ? pid : 0;
}

bool RunsExecutable(pid_t pid, const std::string& executable) {
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  char buffer[4096];
  const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return false;
  return WithoutDeletedMark(std::string_view(buffer, static_cast<std::size_t>(length))) ==
         WithoutDeletedMark(executable);
}

}  // namespace pelorin
