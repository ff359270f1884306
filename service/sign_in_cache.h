// A cache of verified sign-ins. Every request carries Basic credentials, and
// checking a password against its hash costs tens of milliseconds by design;
// a pair that verified a moment ago is taken again without that cost. Keys are
// a keyed hash (HMAC-SHA256 with a key drawn at start) of the lower-cased user
// name and the password, so the cache never holds a password. Each entry also
// holds the stored hash it verified against: once the account's PASSWORD
// changes, the entry no longer matches. Only successes are kept: a failed
// sign-in always pays the full check. Thread-safe.
#ifndef PELORIN_SERVICE_SIGN_IN_CACHE_H_
#define PELORIN_SERVICE_SIGN_IN_CACHE_H_

#include <array>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace pelorin {

inline constexpr std::chrono::minutes kSignInCacheLifetime{5};
inline constexpr std::size_t kSignInCacheEntries = 10'000;

class TSignInCache {
 public:
  using TClock = std::chrono::steady_clock;

  explicit TSignInCache(TClock::duration lifetime = kSignInCacheLifetime,
                        std::size_t capacity = kSignInCacheEntries);

  // Whether (user, password) verified against `stored` within the lifetime.
  bool Holds(std::string_view user, std::string_view password, std::string_view stored, TClock::time_point now);
  void Remember(std::string_view user, std::string_view password, std::string_view stored, TClock::time_point now);
  // Drops every entry of that user (a logout).
  void ForgetUser(std::string_view user);
  // Drops everything (the accounts changed).
  void ForgetAll();
  std::size_t Size();

 private:
  struct TEntry {
    std::string User;    // lower-cased
    std::string Stored;  // the hash the pair verified against
    TClock::time_point Expires;
  };
  std::string KeyOf(std::string_view user, std::string_view password) const;

  const TClock::duration lifetime_;
  const std::size_t capacity_;
  std::array<unsigned char, 32> secret_{};
  std::mutex mutex_;
  std::unordered_map<std::string, TEntry> entries_;
};

}  // namespace pelorin

#endif  // PELORIN_SERVICE_SIGN_IN_CACHE_H_
