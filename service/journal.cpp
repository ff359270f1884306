#include "service/journal.h"

#include <algorithm>
#include <utility>

namespace pelorin {
namespace {

thread_local std::uint64_t thread_ticket = 0;

}  // namespace

void TJournal::Open(const std::string& path) {
  path_ = path;
  file_.Open(path, 0600);  // it holds what the stores hold, passwords included
  std::lock_guard<std::mutex> lock(mutex_);
  written_ = durable_ = 0;
  broken_.clear();
}

void TJournal::Close() { file_.Close(); }

bool TJournal::Append(TJournalEntry& entry, std::string& error) {
  if (!file_.IsOpen()) {
    error = "the journal " + path_ + " is not open";
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!broken_.empty()) {
      error = broken_;
      return false;
    }
  }
  entry.Seq = last_seq_ + 1;
  const std::string bytes = EncodeJournalEntry(entry);
  try {
    file_.Append(bytes);
  } catch (const TFileError& e) {
    error = e.what();
    return false;
  }
  last_seq_ = entry.Seq;
  std::lock_guard<std::mutex> lock(mutex_);
  written_ += bytes.size();
  thread_ticket = written_;
  return true;
}

std::uint64_t TJournal::TakeThreadTicket() { return std::exchange(thread_ticket, 0); }

bool TJournal::WaitDurable(std::uint64_t ticket, std::string& error) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (durable_ >= ticket) return true;
    if (!broken_.empty()) {
      error = broken_;
      return false;
    }
    if (flushing_) {
      flushed_.wait(lock);
      continue;
    }
    // This thread flushes for everyone who appended so far.
    flushing_ = true;
    const std::uint64_t target = written_;
    lock.unlock();
    std::string failure;
    try {
      FlushSeam(file_);
    } catch (const TFileError& e) {
      failure = e.what();
    }
    lock.lock();
    flushing_ = false;
    if (failure.empty()) {
      durable_ = std::max(durable_, target);
    } else {
      // What the failed flush covered may or may not be on disk: nothing
      // more is taken until a save has put the stores on disk whole.
      broken_ = failure;
    }
    flushed_.notify_all();
  }
}

void TJournal::Truncate() {
  file_.Truncate();
  std::lock_guard<std::mutex> lock(mutex_);
  durable_ = written_;  // the store files hold it all now
  broken_.clear();
  flushed_.notify_all();
}

void TJournal::CutTo(std::uint64_t bytes) { file_.CutTo(static_cast<off_t>(bytes)); }

}  // namespace pelorin
