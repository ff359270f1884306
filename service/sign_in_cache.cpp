#include "service/sign_in_cache.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <stdexcept>

#include "vcard/vcard_text.h"

namespace pelorin {

TSignInCache::TSignInCache(TClock::duration lifetime, std::size_t capacity)
    : lifetime_(lifetime), capacity_(capacity) {
  if (RAND_bytes(secret_.data(), static_cast<int>(secret_.size())) != 1) {
    throw std::runtime_error("could not draw the sign-in cache's key");
  }
}

std::string TSignInCache::KeyOf(std::string_view user, std::string_view password) const {
  // The NUL between them keeps ("ab", "c") and ("a", "bc") apart; neither may hold one.
  std::string message = LowerAscii(user);
  message += '\0';
  message.append(password);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), secret_.data(), static_cast<int>(secret_.size()),
           reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, &length) == nullptr) {
    return {};
  }
  std::fill(message.begin(), message.end(), '\0');  // it held the password
  return std::string(reinterpret_cast<const char*>(digest), length);
}

bool TSignInCache::Holds(std::string_view user, std::string_view password, std::string_view stored,
                         TClock::time_point now) {
  const std::string key = KeyOf(user, password);
  if (key.empty()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = entries_.find(key);
  if (found == entries_.end()) return false;
  if (found->second.Expires <= now) {
    entries_.erase(found);
    return false;
  }
  return found->second.Stored == stored;
}

void TSignInCache::Remember(std::string_view user, std::string_view password, std::string_view stored,
                            TClock::time_point now) {
  std::string key = KeyOf(user, password);
  if (key.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.size() >= capacity_) {
    std::erase_if(entries_, [&](const auto& entry) { return entry.second.Expires <= now; });
    // Still full: many accounts at once. Starting afresh costs one check each.
    if (entries_.size() >= capacity_) entries_.clear();
  }
  entries_[std::move(key)] = TEntry{LowerAscii(user), std::string(stored), now + lifetime_};
}

void TSignInCache::ForgetUser(std::string_view user) {
  const std::string wanted = LowerAscii(user);
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(entries_, [&](const auto& entry) { return entry.second.User == wanted; });
}

void TSignInCache::ForgetAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

std::size_t TSignInCache::Size() {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

}  // namespace pelorin
