#include "service/password_hash.h"

#include <crypt.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace pelorin {
namespace {

constexpr std::string_view kYescrypt = "$y$";
constexpr std::array<std::string_view, 6> kVerifiedPrefixes = {"$y$", "$2b$", "$2y$", "$2a$", "$6$", "$5$"};

// struct crypt_data is about 32 KiB: too large for a request thread's stack.
std::unique_ptr<crypt_data> NewCryptData() {
  auto data = std::make_unique<crypt_data>();
  std::memset(data.get(), 0, sizeof(crypt_data));
  return data;
}

bool HasNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

}  // namespace

std::string HashPassword(std::string_view password) {
  if (HasNul(password)) throw std::runtime_error("a password cannot hold a NUL byte");
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  // Count 0: libxcrypt's default cost; random bytes from the system.
  if (crypt_gensalt_rn(kYescrypt.data(), 0, nullptr, 0, setting, sizeof setting) == nullptr) {
    throw std::runtime_error(std::string("could not make a password salt: ") + std::strerror(errno));
  }
  const std::string clear(password);
  const std::unique_ptr<crypt_data> data = NewCryptData();
  const char* hash = crypt_rn(clear.c_str(), setting, data.get(), sizeof(crypt_data));
  if (hash == nullptr || hash[0] == '*') {
    throw std::runtime_error(std::string("could not hash a password: ") + std::strerror(errno));
  }
  return hash;
}

bool IsPasswordHash(std::string_view stored) {
  for (const std::string_view prefix : kVerifiedPrefixes) {
    if (stored.starts_with(prefix) && stored.size() > prefix.size() + 8) return true;
  }
  return false;
}

bool NeedsRehash(std::string_view stored) { return IsPasswordHash(stored) && !stored.starts_with(kYescrypt); }

bool VerifyPassword(std::string_view password, std::string_view stored) {
  if (HasNul(password) || HasNul(stored) || stored.empty()) return false;
  if (!IsPasswordHash(stored)) return ConstantTimeEquals(password, stored);
  const std::string clear(password);
  const std::string setting(stored);
  const std::unique_ptr<crypt_data> data = NewCryptData();
  const char* hash = crypt_rn(clear.c_str(), setting.c_str(), data.get(), sizeof(crypt_data));
  // A damaged hash gives a failure token starting with "*", never the hash.
  return hash != nullptr && hash[0] != '*' && ConstantTimeEquals(hash, stored);
}

// The loop runs over the stored text, so the time says nothing about how much
// of the offered text matched, nor its length.
bool ConstantTimeEquals(std::string_view offered, std::string_view stored) {
  unsigned char difference = offered.size() == stored.size() ? 0 : 1;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const char mine = offered.empty() ? '\0' : offered[i % offered.size()];
    difference |= static_cast<unsigned char>(mine ^ stored[i]);
  }
  return difference == 0;
}

}  // namespace pelorin
