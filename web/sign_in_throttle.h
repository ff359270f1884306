// TSignInThrottle: remembers failed sign-ins so that passwords cannot be guessed
// at the speed of the server. A user name is locked out for a while from one
// client's address group once too many fail from there within a window; and
// once too many fail for a name from any addresses, the checks of that name slow
// down for every address group that has not signed in as it lately. Not
// thread-safe: the service calls it while holding StoreLock; times come from the caller.
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
  // One name from one address group (web/client_address.h).
  int MaxFailures = 5;                     // failures within Window that lock the pair
  std::chrono::seconds Window{60};
  std::chrono::seconds LockTime{60};
  // One name from any addresses.
  int NameMaxFailures = 10;                // failures within NameWindow before checks slow down
  std::chrono::seconds NameWindow{900};
  std::chrono::seconds FirstDelay{1};      // after the first failure past NameMaxFailures,
  std::chrono::seconds MaxDelay{60};       // doubling with each further one up to MaxDelay
  std::chrono::hours KnownGroupTime{24 * 7};  // a group that signed in is spared the delay this long
  std::size_t KnownGroupsPerName = 8;      // the groups of a name's latest sign-ins
  std::size_t MaxTracked = 10000;          // entries of each table, so guessing names costs no memory
};

// What one failed sign-in started; each is reported once, for the log.
struct TSignInFailure {
  bool LockedPair = false;  // the name is now locked from this address group
  bool SlowedName = false;  // the name's checks from strangers are now slowed
};

class TSignInThrottle {
 public:
  using TClock = std::chrono::steady_clock;

  explicit TSignInThrottle(TSignInThrottleLimits limits = {}) : limits_(limits) {}

  // Whether the credentials may be checked now; when not, the client gets the
  // challenge without its password being looked at.
  bool MayCheck(const std::string& user, const std::string& address, TClock::time_point now) const {
    return !IsLocked(user, address, now) && !IsDelayed(user, address, now);
  }
  // True while the name is locked from the address's group.
  bool IsLocked(const std::string& user, const std::string& address, TClock::time_point now) const;
  // True while the name's checks are slowed and the address's group has not
  // signed in as that name within KnownGroupTime.
  bool IsDelayed(const std::string& user, const std::string& address, TClock::time_point now) const;

  // Counts a failed sign-in of a check that MayCheck allowed.
  TSignInFailure RecordFailure(const std::string& user, const std::string& address, TClock::time_point now);
  // A sign-in that passed forgets the pair's earlier failures and spares the
  // address's group the name's delay. The name's own count stays: the owner
  // signing in must not give a guesser elsewhere a fresh start.
  void RecordSuccess(const std::string& user, const std::string& address, TClock::time_point now);

  std::size_t TrackedPairs() const { return pairs_.size(); }
  std::size_t TrackedNames() const { return names_.size(); }
  std::size_t KnownNames() const { return known_.size(); }

 private:
  struct TPairState {
    std::vector<TClock::time_point> Failures;  // the latest ones, oldest first, at most MaxFailures
    TClock::time_point LockedUntil;            // in the past when not locked
  };
  struct TNameState {
    std::vector<TClock::time_point> Failures;  // within NameWindow, oldest first, a bounded number
    TClock::time_point DelayedUntil;           // in the past when not slowed
  };
  struct TKnownGroup {
    std::string Group;
    TClock::time_point SignedInAt;
  };
  using TKey = std::pair<std::string, std::string>;  // lower-cased user name, address group

  static std::string NameOf(const std::string& user);
  static TKey KeyOf(const std::string& user, const std::string& address);
  bool RecordPairFailure(TKey key, TClock::time_point now);
  bool RecordNameFailure(const std::string& name, TClock::time_point now);
  std::chrono::seconds DelayAfter(std::size_t failures_past_limit) const;
  void MakeRoomForPair(TClock::time_point now);
  void MakeRoomForName(TClock::time_point now);
  void MakeRoomForKnownName(TClock::time_point now);

  TSignInThrottleLimits limits_;
  std::map<TKey, TPairState> pairs_;
  std::map<std::string, TNameState> names_;
  std::map<std::string, std::vector<TKnownGroup>> known_;  // filled only by right passwords
};

}  // namespace pelorin

#endif  // PELORIN_WEB_SIGN_IN_THROTTLE_H_
