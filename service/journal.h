// TJournal: the file every record change is appended to before it is
// answered, and the group commit that makes the appends durable. Appends run
// under the store lock (a plain write); the flush (fdatasync) runs after the
// lock is released, so readers are never held behind it, and one flush covers
// every append made while the one before it was on its way.
#ifndef PELORIN_SERVICE_JOURNAL_H_
#define PELORIN_SERVICE_JOURNAL_H_

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "io/durable_file.h"
#include "service/journal_entry.h"

namespace pelorin {

class TJournal {
 public:
  // Opens (creating) the file for appending. Throws TFileError; the journal
  // then stays closed and every Append fails.
  void Open(const std::string& path);
  bool IsOpen() const { return file_.IsOpen(); }
  const std::string& Path() const { return path_; }
  void Close();

  // Numbers the entry (the next sequence) and writes it. On success the
  // calling thread holds a ticket for WaitDurable. False with `error` when it
  // cannot be written: nothing of it stays in the file and its number is not
  // used. Call under the store lock.
  bool Append(TJournalEntry& entry, std::string& error);

  // The calling thread's ticket from its last Append since it last took one
  // (0: nothing to wait for).
  static std::uint64_t TakeThreadTicket();

  // Blocks until the append that gave `ticket` is on disk; false with
  // `error` when a flush failed (the journal then takes no more appends until
  // a save has emptied it). Call without the store lock.
  bool WaitDurable(std::uint64_t ticket, std::string& error);

  // A save has put every change into the store files: the file is emptied
  // and every waiting append counts as durable. Call under the store lock.
  // Throws TFileError.
  void Truncate();
  // The file is cut back to `bytes` (a damaged tail found at start).
  void CutTo(std::uint64_t bytes);

  // The sequence of the last entry written (or of the last a save covered).
  std::uint64_t LastSeq() const { return last_seq_; }
  void SetLastSeq(std::uint64_t seq) { last_seq_ = seq; }

  // Test seam: the flush, which a test may make fail.
  std::function<void(TAppendFile&)> FlushSeam = [](TAppendFile& file) { file.Sync(); };

 private:
  std::string path_;
  TAppendFile file_;
  std::uint64_t last_seq_ = 0;  // under the store lock

  std::mutex mutex_;
  std::condition_variable flushed_;
  std::uint64_t written_ = 0;  // bytes ever appended (tickets count these)
  std::uint64_t durable_ = 0;
  bool flushing_ = false;
  std::string broken_;  // why the last flush failed; empty when none did
};

}  // namespace pelorin

#endif  // PELORIN_SERVICE_JOURNAL_H_
