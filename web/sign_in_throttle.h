// TSignInThrottle: remembers failed sign-ins per user name and client address and
// locks that pair out for a while once too many fail within a window, so that
// passwords cannot be guessed at the speed of the server. Not thread-safe: the
// service calls it while holding StoreLock; times come from the caller.
#ifndef PELORIN_WEB_SIGN_IN_THROTTLE_H_
#define PELORIN_WEB_SIGN_IN_THROTTLE_H_

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pelorin {

struct TSignInThrottleLimits {
  int MaxFailures = 5;                     // failures within Window that lock the pair
  std::chrono::seconds Window{60};
  std::chrono::seconds LockTime{60};
  std::size_t MaxTracked = 10000;          // pairs remembered at once, so guessing names costs no memory
};

class TSignInThrottle {
 public:
  using TClock = std::chrono::steady_clock;

  explicit TSignInThrottle(TSignInThrottleLimits limits = {}) : limits_(limits) {}

  // True while the pair is locked out: its credentials are not to be checked.
  bool IsLocked(const std::string& user, const std::string& address, TClock::time_point now) const;
  // Counts a failed sign-in; true when this failure locks the pair (once per lock).
  bool RecordFailure(const std::string& user, const std::string& address, TClock::time_point now);
  // A sign-in that passed forgets the pair's earlier failures.
  void RecordSuccess(const std::string& user, const std::string& address);

  std::size_t TrackedPairs() const { return pairs_.size(); }

 private:
  struct TPairState {
    std::vector<TClock::time_point> Failures;  // the latest ones, oldest first, at most MaxFailures
    TClock::time_point LockedUntil;            // in the past when not locked
  };
  using TKey = std::pair<std::string, std::string>;  // lower-cased user name, address

  static TKey KeyOf(const std::string& user, const std::string& address);
  void MakeRoom(TClock::time_point now);

  TSignInThrottleLimits limits_;
  std::map<TKey, TPairState> pairs_;
};

}  // namespace pelorin

#endif  // PELORIN_WEB_SIGN_IN_THROTTLE_H_
