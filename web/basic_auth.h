// Basic credentials from an "Authorization" header value, with the small base64
// decoder they need. Pure functions, any thread; errors are reported by value.
#ifndef PELORIN_WEB_BASIC_AUTH_H_
#define PELORIN_WEB_BASIC_AUTH_H_

#include <optional>
#include <string>
#include <string_view>

namespace pelorin {

// Base64 after RFC 2045: spaces, tabs, CR and LF are skipped anywhere; up to two "="
// may end the text. Any other character, data after "=", more than two "=", or a
// last group of a single character makes the text invalid (nullopt).
std::optional<std::string> DecodeBase64(std::string_view encoded);

struct TAuthorization {
  bool Refused = false;  // another scheme than Basic: the request gets no answer at all
  std::string UserName;
  std::string Password;
};

// An empty value gives empty credentials. Basic (any case) is followed by base64
// text whose first ":" splits user name and password; without ":" the whole text is
// the user name. Text that is not valid base64 also gives empty credentials, so the
// request is challenged for an account rather than dropped.
TAuthorization DecodeBasicCredentials(std::string_view header_value);

}  // namespace pelorin

#endif  // PELORIN_WEB_BASIC_AUTH_H_
