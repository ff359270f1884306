#include "xml/xpath_deadline.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace pelorin {
namespace {

using Clock = std::chrono::steady_clock;

class TXPathWatchdog {
 public:
  // Null when no thread could be started. Never destroyed: its thread may still
  // be waiting when the process exits.
  static TXPathWatchdog* Shared() noexcept {
    static TXPathWatchdog* const shared = Start();
    return shared;
  }

  // A ticket for Forget, or 0 when the context could not be watched.
  std::uint64_t Watch(xmlXPathContext* context, Clock::time_point deadline) noexcept {
    try {
      std::lock_guard lock(mutex_);
      const std::uint64_t ticket = next_ticket_++;
      watched_.emplace(ticket, TWatched{context, deadline});
      // Every budget is the same, so a new deadline is the earliest only when the
      // watchdog has nothing to wait for: it is woken once per quiet spell, not
      // once per query.
      if (deadline < wake_at_) {
        wake_at_ = deadline;
        changed_.notify_one();
      }
      return ticket;
    } catch (...) {
      return 0;
    }
  }

  void Forget(std::uint64_t ticket) noexcept {
    try {
      std::lock_guard lock(mutex_);
      watched_.erase(ticket);
    } catch (...) {
      // Locking a healthy mutex does not fail; were it to, the entry would stay
      // and a finished context be tripped later, which only writes its limit.
    }
  }

 private:
  struct TWatched {
    xmlXPathContext* context;
    Clock::time_point deadline;
  };

  TXPathWatchdog() = default;

  static TXPathWatchdog* Start() noexcept {
    try {
      auto watchdog = std::unique_ptr<TXPathWatchdog>(new TXPathWatchdog);
      std::thread([raw = watchdog.get()] { raw->Run(); }).detach();
      return watchdog.release();
    } catch (...) {
      return nullptr;
    }
  }

  // The limit is lowered under the mutex, so it never reaches a context whose
  // deadline has been forgotten. libxml2 reads the limit as a plain machine word
  // at every step; an aligned word is stored whole, so the evaluating thread sees
  // the old limit or the new one, and sees the new one at its next check since
  // each step calls through function pointers.
  static void Trip(xmlXPathContext* context) noexcept {
    std::atomic_ref<unsigned long>(context->opLimit).store(1, std::memory_order_relaxed);
  }

  void Run() noexcept {
    std::unique_lock lock(mutex_);
    while (true) {
      const Clock::time_point now = Clock::now();
      Clock::time_point next = Clock::time_point::max();
      for (auto it = watched_.begin(); it != watched_.end();) {
        if (it->second.deadline <= now) {
          Trip(it->second.context);
          it = watched_.erase(it);
        } else {
          next = std::min(next, it->second.deadline);
          ++it;
        }
      }
      wake_at_ = next;
      if (next == Clock::time_point::max()) {
        changed_.wait(lock);
      } else {
        changed_.wait_until(lock, next);
      }
    }
  }

  std::mutex mutex_;  // guards everything below; never held while calling out
  std::condition_variable changed_;
  std::map<std::uint64_t, TWatched> watched_;
  std::uint64_t next_ticket_ = 1;
  Clock::time_point wake_at_ = Clock::time_point::max();
};

}  // namespace

TXPathDeadline::TXPathDeadline(xmlXPathContext* context, Clock::duration budget) noexcept {
  if (TXPathWatchdog* watchdog = TXPathWatchdog::Shared()) ticket_ = watchdog->Watch(context, Clock::now() + budget);
}

TXPathDeadline::~TXPathDeadline() {
  if (ticket_ != 0) TXPathWatchdog::Shared()->Forget(ticket_);
}

}  // namespace pelorin
