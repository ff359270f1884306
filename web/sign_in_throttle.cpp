#include "web/sign_in_throttle.h"

#include <algorithm>

namespace pelorin {

// User names are compared without regard to case at sign-in, so "Admin" and
// "admin" are one account and must share one count.
TSignInThrottle::TKey TSignInThrottle::KeyOf(const std::string& user, const std::string& address) {
  std::string lower = user;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return {std::move(lower), address};
}

bool TSignInThrottle::IsLocked(const std::string& user, const std::string& address, TClock::time_point now) const {
  const auto found = pairs_.find(KeyOf(user, address));
  return found != pairs_.end() && now < found->second.LockedUntil;
}

bool TSignInThrottle::RecordFailure(const std::string& user, const std::string& address, TClock::time_point now) {
  TKey key = KeyOf(user, address);
  auto found = pairs_.find(key);
  if (found == pairs_.end()) {
    MakeRoom(now);
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

void TSignInThrottle::RecordSuccess(const std::string& user, const std::string& address) {
  if (pairs_.empty()) return;  // the usual case costs nothing per request
  pairs_.erase(KeyOf(user, address));
}

// Pairs whose window and lock have both run out carry no information any more.
// When even then the table is full, the pair that failed longest ago gives way:
// someone cycling through invented names must not grow the process.
void TSignInThrottle::MakeRoom(TClock::time_point now) {
  if (pairs_.size() < limits_.MaxTracked) return;
  const auto last_failure = [](const TPairState& state) {
    return state.Failures.empty() ? TClock::time_point{} : state.Failures.back();
  };
  std::erase_if(pairs_, [&](const auto& entry) {
    const TPairState& state = entry.second;
    return now >= state.LockedUntil && (state.Failures.empty() || now - last_failure(state) >= limits_.Window);
  });
  while (pairs_.size() >= limits_.MaxTracked) {
    // Locked pairs are the last to go: evicting them would lift their lock.
    const auto oldest = std::min_element(pairs_.begin(), pairs_.end(), [&](const auto& a, const auto& b) {
      const bool a_locked = now < a.second.LockedUntil;
      const bool b_locked = now < b.second.LockedUntil;
      if (a_locked != b_locked) return !a_locked;
      return last_failure(a.second) < last_failure(b.second);
    });
    pairs_.erase(oldest);
  }
}

}  // namespace pelorin
