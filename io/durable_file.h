// Writing files so that a crash or a power cut at any moment leaves either the
// old content or all of the new, never a torn file: the stores, the service
// unit and the journal of record changes all go through these few steps.
#ifndef PELORIN_IO_DURABLE_FILE_H_
#define PELORIN_IO_DURABLE_FILE_H_

#include <sys/types.h>

#include <stdexcept>
#include <string>
#include <string_view>

namespace pelorin {

// A failed step of a durable write: `Step` names it ("create", "write",
// "fsync", "close", "rename", "link", "open", "truncate"), `Error` is its errno.
class TFileError : public std::runtime_error {
 public:
  TFileError(const std::string& message, const char* step, int error)
      : std::runtime_error(message), Step(step), Error(error) {}
  const char* Step;
  int Error;
};

// Writes every byte, past EINTR and short writes. False with errno set (ENOSPC
// when the system wrote nothing without saying why).
bool WriteAll(int fd, std::string_view bytes);

// The directory entry of a rename or link reaches the disk only with an fsync
// of the directory itself. Best effort: some file systems refuse it.
void SyncParentDirectory(const std::string& path);

// Replaces `path` by `bytes`: the sibling "<path>.saving" is written, fsynced
// and renamed over `path`, then the directory is fsynced. An existing file's
// mode is kept; a new one gets `new_file_mode`. On failure the temporary file
// is gone, `path` is untouched, and TFileError says "Could not save <path>
// (<step>): <reason>".
void ReplaceFileDurably(const std::string& path, std::string_view bytes, mode_t new_file_mode);

// Creates `path` with `bytes` and `mode` only if nothing is there yet: the
// content is written and fsynced under a temporary name, then linked in, so a
// reader never sees half a file. errno-style result: 0, or the error (EEXIST
// when `path` exists).
int CreateFileDurably(const std::string& path, std::string_view bytes, mode_t mode);

// A file that grows by appends, each made durable by Sync (fdatasync), for a
// log of changes that must survive a crash once acknowledged. Not thread-safe.
class TAppendFile {
 public:
  TAppendFile() = default;
  ~TAppendFile();
  TAppendFile(const TAppendFile&) = delete;
  TAppendFile& operator=(const TAppendFile&) = delete;

  // Opens (creating with `mode`) for appending; the directory entry of a new
  // file is synced. Throws TFileError.
  void Open(const std::string& path, mode_t mode);
  bool IsOpen() const { return fd_ >= 0; }
  void Close();
  // Throws TFileError; after a failed append the file is cut back to its size
  // before it, so a later append never follows a torn piece.
  void Append(std::string_view bytes);
  void Sync();
  // Empties the file and syncs that.
  void Truncate();
  // Cuts the file to its first `bytes` and syncs that.
  void CutTo(off_t bytes);
  // Bytes in the file as this object knows them.
  off_t Size() const { return size_; }

 private:
  [[noreturn]] void Fail(const char* step, int error) const;

  std::string path_;
  int fd_ = -1;
  off_t size_ = 0;
  bool torn_ = false;  // a failed append's piece could not be taken back
};

}  // namespace pelorin

#endif  // PELORIN_IO_DURABLE_FILE_H_
