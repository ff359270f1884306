#include "io/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pelorin {
namespace {

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

[[noreturn]] void SaveFailed(const std::string& path, const char* step, int error) {
  throw TFileError("Could not save " + path + " (" + step + "): " + std::strerror(error), step, error);
}

// Owns a descriptor and a temporary name; the file is removed unless kept.
struct TTempFile {
  std::string path;
  int fd = -1;
  bool keep = false;
  ~TTempFile() {
    if (fd >= 0) ::close(fd);
    if (!keep && !path.empty()) ::unlink(path.c_str());
  }
  // Close reports what the write-back found, so it is checked too.
  int CloseChecked() {
    const int closing = fd;
    fd = -1;
    return ::close(closing) == 0 ? 0 : errno;
  }
};

}  // namespace

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written == 0) errno = ENOSPC;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

void SyncParentDirectory(const std::string& path) {
  const int dir_fd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return;
  ::fsync(dir_fd);
  ::close(dir_fd);
}

void ReplaceFileDurably(const std::string& path, std::string_view bytes, mode_t new_file_mode) {
  TTempFile temp;
  temp.path = path + ".saving";
  mode_t mode = new_file_mode;
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) mode = existing.st_mode & 07777;
  temp.fd = ::open(temp.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (temp.fd < 0) SaveFailed(path, "create", errno);
  ::fchmod(temp.fd, mode);  // O_CREAT's mode is filtered by the umask and ignored for old files
  if (!WriteAll(temp.fd, bytes)) SaveFailed(path, "write", errno);
  if (::fsync(temp.fd) != 0) SaveFailed(path, "fsync", errno);
  if (const int error = temp.CloseChecked(); error != 0) SaveFailed(path, "close", error);
  if (::rename(temp.path.c_str(), path.c_str()) != 0) SaveFailed(path, "rename", errno);
  temp.keep = true;
  // Without this a crash may bring back the old file after the answer went out.
  SyncParentDirectory(path);
}

int CreateFileDurably(const std::string& path, std::string_view bytes, mode_t mode) {
  TTempFile temp;
  temp.path = DirectoryOf(path) + "/.durable.XXXXXX";
  temp.fd = ::mkostemp(temp.path.data(), O_CLOEXEC);
  if (temp.fd < 0) {
    const int error = errno;
    temp.path.clear();  // nothing was created
    return error;
  }
  if (::fchmod(temp.fd, mode) != 0 || !WriteAll(temp.fd, bytes) || ::fsync(temp.fd) != 0) return errno;
  if (const int error = temp.CloseChecked(); error != 0) return error;
  // link() refuses to replace an entry that exists, unlike rename().
  if (::link(temp.path.c_str(), path.c_str()) != 0) return errno;
  SyncParentDirectory(path);
  return 0;
}

TAppendFile::~TAppendFile() { Close(); }

void TAppendFile::Fail(const char* step, int error) const {
  throw TFileError("Could not write " + path_ + " (" + step + "): " + std::strerror(error), step, error);
}

void TAppendFile::Open(const std::string& path, mode_t mode) {
  Close();
  path_ = path;
  const bool existed = ::access(path.c_str(), F_OK) == 0;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, mode);
  if (fd_ < 0) Fail("open", errno);
  struct stat status {};
  if (::fstat(fd_, &status) != 0) {
    const int error = errno;
    Close();
    Fail("open", error);
  }
  size_ = status.st_size;
  if (!existed) SyncParentDirectory(path);
}

void TAppendFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void TAppendFile::Append(std::string_view bytes) {
  if (fd_ < 0) Fail("write", EBADF);
  // After a piece could not be taken back, whatever came next would stand
  // behind it, where a reader, cutting at the torn piece, never finds it.
  if (torn_) Fail("write", EIO);
  if (WriteAll(fd_, bytes)) {
    size_ += static_cast<off_t>(bytes.size());
    return;
  }
  const int error = errno;
  // A piece that got out would stand before the next entry: take it back.
  if (::ftruncate(fd_, size_) != 0) torn_ = true;
  Fail("write", error);
}

void TAppendFile::CutTo(off_t bytes) {
  if (fd_ < 0) Fail("truncate", EBADF);
  if (::ftruncate(fd_, bytes) != 0) Fail("truncate", errno);
  size_ = bytes;
  torn_ = false;
  if (::fdatasync(fd_) != 0) Fail("fsync", errno);
}

void TAppendFile::Sync() {
  if (fd_ < 0) Fail("fsync", EBADF);
  if (::fdatasync(fd_) != 0) Fail("fsync", errno);
}

void TAppendFile::Truncate() { CutTo(0); }

}  // namespace pelorin
