#include "web/sign_in_throttle.h"

#include <algorithm>

#include "web/client_address.h"

namespace pelorin {
namespace {

// Failures of a name kept past NameMaxFailures: enough for the delay to have
// reached any sensible cap (2^32 s), few enough that a name costs little.
constexpr std::size_t kNameFailuresPastLimitKept = 32;

// When a table is full, entries that carry no information any more go first;
// then the one that failed longest ago, entries still holding a client back
// last: evicting those would lift their lock. Someone cycling through invented
// names must not grow the process.
template <typename TTable, typename TIsSpent, typename TIsHolding, typename TLastFailure>
void MakeRoomIn(TTable& table, std::size_t max_tracked, TIsSpent is_spent, TIsHolding is_holding,
                TLastFailure last_failure) {
  if (table.size() < max_tracked) return;
  std::erase_if(table, [&](const auto& entry) { return is_spent(entry.second); });
  while (!table.empty() && table.size() >= max_tracked) {
    const auto oldest = std::min_element(table.begin(), table.end(), [&](const auto& a, const auto& b) {
      const bool a_holding = is_holding(a.second);
      const bool b_holding = is_holding(b.second);
      if (a_holding != b_holding) return !a_holding;
      return last_failure(a.second) < last_failure(b.second);
    });
    table.erase(oldest);
  }
}

template <typename TState>
TSignInThrottle::TClock::time_point LastFailure(const TState& state) {
  return state.Failures.empty() ? TSignInThrottle::TClock::time_point{} : state.Failures.back();
}

}  // namespace

// User names are compared without regard to case at sign-in, so "Admin" and
// "admin" are one account and must share one count.
std::string TSignInThrottle::NameOf(const std::string& user) {
  std::string lower = user;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

TSignInThrottle::TKey TSignInThrottle::KeyOf(const std::string& user, const std::string& address) {
  return {NameOf(user), AddressGroup(address)};
}

bool TSignInThrottle::IsLocked(const std::string& user, const std::string& address, TClock::time_point now) const {
  if (pairs_.empty()) return false;
  const auto found = pairs_.find(KeyOf(user, address));
  return found != pairs_.end() && now < found->second.LockedUntil;
}

bool TSignInThrottle::IsDelayed(const std::string& user, const std::string& address, TClock::time_point now) const {
  if (names_.empty()) return false;
  const std::string name = NameOf(user);
  const auto state = names_.find(name);
  if (state == names_.end() || now >= state->second.DelayedUntil) return false;
  const auto known = known_.find(name);
  if (known == known_.end()) return true;
  const std::string group = AddressGroup(address);
  return std::none_of(known->second.begin(), known->second.end(), [&](const TKnownGroup& g) {
    return g.Group == group && now - g.SignedInAt < limits_.KnownGroupTime;
  });
}

TSignInFailure TSignInThrottle::RecordFailure(const std::string& user, const std::string& address,
                                              TClock::time_point now) {
  TSignInFailure effect;
  TKey key = KeyOf(user, address);
  const std::string name = key.first;
  effect.LockedPair = RecordPairFailure(std::move(key), now);
  effect.SlowedName = RecordNameFailure(name, now);
  return effect;
}

// True when this failure locks the pair (once per lock).
bool TSignInThrottle::RecordPairFailure(TKey key, TClock::time_point now) {
  auto found = pairs_.find(key);
  if (found == pairs_.end()) {
    MakeRoomForPair(now);
    found = pairs_.emplace(std::move(key), TPairState{}).first;
  }
  TPairState& state = found->second;
  if (now < state.LockedUntil) return false;  // already locked: counted once
  // A sliding window: the failures of the last minute count, however they fall.
  std::erase_if(state.Failures, [&](TClock::time_point at) { return now - at >= limits_.Window; });
  state.Failures.push_back(now);
  if (static_cast<int>(state.Failures.size()) < limits_.MaxFailures) return false;
  state.LockedUntil = now + limits_.LockTime;
  state.Failures.clear();  // after the lock the count starts afresh
  return true;
}

// A lock of the name itself would let any stranger keep its owner out with a few
// guesses a minute. A delay instead costs the owner nothing where they signed in
// lately, and gives a guesser who rotates addresses one try per delay, the delay
// doubling with every miss. True when this failure begins the slowing.
bool TSignInThrottle::RecordNameFailure(const std::string& name, TClock::time_point now) {
  auto found = names_.find(name);
  if (found == names_.end()) {
    MakeRoomForName(now);
    found = names_.emplace(name, TNameState{}).first;
  }
  TNameState& state = found->second;
  std::erase_if(state.Failures, [&](TClock::time_point at) { return now - at >= limits_.NameWindow; });
  state.Failures.push_back(now);
  const std::size_t limit = static_cast<std::size_t>(std::max(limits_.NameMaxFailures, 0));
  if (state.Failures.size() > limit + kNameFailuresPastLimitKept) state.Failures.erase(state.Failures.begin());
  if (state.Failures.size() <= limit) return false;
  const std::size_t past_limit = state.Failures.size() - limit;
  state.DelayedUntil = now + DelayAfter(past_limit);
  return past_limit == 1;
}

std::chrono::seconds TSignInThrottle::DelayAfter(std::size_t failures_past_limit) const {
  std::chrono::seconds delay = limits_.FirstDelay;
  for (std::size_t i = 1; i < failures_past_limit && delay < limits_.MaxDelay; ++i) delay *= 2;
  return std::min(delay, limits_.MaxDelay);
}

void TSignInThrottle::RecordSuccess(const std::string& user, const std::string& address, TClock::time_point now) {
  TKey key = KeyOf(user, address);
  if (!pairs_.empty()) pairs_.erase(key);
  auto found = known_.find(key.first);
  if (found == known_.end()) {
    MakeRoomForKnownName(now);
    found = known_.emplace(key.first, std::vector<TKnownGroup>{}).first;
  }
  std::vector<TKnownGroup>& groups = found->second;
  const auto same = std::find_if(groups.begin(), groups.end(), [&](const TKnownGroup& g) { return g.Group == key.second; });
  if (same != groups.end()) {
    same->SignedInAt = now;
    return;
  }
  if (limits_.KnownGroupsPerName == 0) return;
  if (groups.size() < limits_.KnownGroupsPerName) {
    groups.push_back({std::move(key.second), now});
    return;
  }
  // The group that signed in longest ago gives way to the newest.
  auto oldest = std::min_element(groups.begin(), groups.end(),
                                 [](const TKnownGroup& a, const TKnownGroup& b) { return a.SignedInAt < b.SignedInAt; });
  *oldest = {std::move(key.second), now};
}

void TSignInThrottle::MakeRoomForPair(TClock::time_point now) {
  MakeRoomIn(
      pairs_, limits_.MaxTracked,
      [&](const TPairState& s) {
        return now >= s.LockedUntil && (s.Failures.empty() || now - LastFailure(s) >= limits_.Window);
      },
      [&](const TPairState& s) { return now < s.LockedUntil; }, LastFailure<TPairState>);
}

void TSignInThrottle::MakeRoomForName(TClock::time_point now) {
  MakeRoomIn(
      names_, limits_.MaxTracked,
      [&](const TNameState& s) {
        return now >= s.DelayedUntil && (s.Failures.empty() || now - LastFailure(s) >= limits_.NameWindow);
      },
      [&](const TNameState& s) { return now < s.DelayedUntil; }, LastFailure<TNameState>);
}

// Only right passwords fill this table, so it holds no more names than there are
// accounts in use; the bound matters only for a very large user store.
void TSignInThrottle::MakeRoomForKnownName(TClock::time_point now) {
  const auto latest = [](const std::vector<TKnownGroup>& groups) {
    TClock::time_point at{};
    for (const TKnownGroup& g : groups) at = std::max(at, g.SignedInAt);
    return at;
  };
  MakeRoomIn(
      known_, limits_.MaxTracked,
      [&](const std::vector<TKnownGroup>& groups) { return now - latest(groups) >= limits_.KnownGroupTime; },
      [](const std::vector<TKnownGroup>&) { return false; }, latest);
}

}  // namespace pelorin
