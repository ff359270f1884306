// Password hashes: yescrypt made with libxcrypt for every new password, and
// the schemes htpasswd files hold (bcrypt $2b$/$2y$/$2a$, sha512-crypt $6$,
// sha256-crypt $5$) verified too, so that accounts can be brought from another
// server. Thread-safe: every call has its own crypt_data.
#ifndef PELORIN_SERVICE_PASSWORD_HASH_H_
#define PELORIN_SERVICE_PASSWORD_HASH_H_

#include <string>
#include <string_view>

namespace pelorin {

// A new yescrypt hash ("$y$...") of `password` with a fresh random salt;
// throws std::runtime_error when the system cannot make one.
std::string HashPassword(std::string_view password);

// Whether `stored` is a hash of a scheme this service verifies. Anything else
// in a PASSWORD element is a clear-text password of an older store.
bool IsPasswordHash(std::string_view stored);

// Whether a stored hash should be made again as yescrypt after a successful
// sign-in (an older scheme).
bool NeedsRehash(std::string_view stored);

// Whether `password` is the one `stored` says: a hash is computed again with
// its own salt, a clear text compared as it is, both in constant time. A
// password holding a NUL byte never matches.
bool VerifyPassword(std::string_view password, std::string_view stored);

// Whether the texts are equal, in time that depends on the stored one's length only.
bool ConstantTimeEquals(std::string_view offered, std::string_view stored);

}  // namespace pelorin

#endif  // PELORIN_SERVICE_PASSWORD_HASH_H_
