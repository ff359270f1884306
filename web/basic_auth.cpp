#include "web/basic_auth.h"

#include "web/request_info.h"

namespace pelorin {
namespace {

// -1 for a character outside the base64 alphabet.
int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsSkippedWhitespace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view encoded) {
  std::string decoded;
  decoded.reserve(encoded.size() / 4 * 3 + 2);
  unsigned int bits = 0;
  int bit_count = 0;
  std::size_t data_chars = 0;
  int padding = 0;
  for (const char c : encoded) {
    if (IsSkippedWhitespace(c)) continue;
    if (c == '=') {
      if (++padding > 2) return std::nullopt;
      continue;
    }
    const int value = Base64Value(c);
    if (value < 0 || padding > 0) return std::nullopt;
    ++data_chars;
    bits = (bits << 6) | static_cast<unsigned int>(value);
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      decoded += static_cast<char>(static_cast<unsigned char>((bits >> bit_count) & 0xFFu));
    }
    bits &= 0xFFu;  // only the bits not yet written are needed
  }
  // A lone character in the last group carries six bits, less than one byte.
  if (data_chars % 4 == 1) return std::nullopt;
  return decoded;
}

TAuthorization DecodeBasicCredentials(std::string_view header_value) {
  TAuthorization result;
  if (header_value.empty()) return result;
  const auto space = header_value.find(' ');
  const std::string_view scheme = header_value.substr(0, space);
  if (!EqualsIgnoringCase(scheme, "Basic")) {
    result.Refused = true;
    return result;
  }
  if (space == std::string_view::npos) return result;
  const std::optional<std::string> decoded = DecodeBase64(header_value.substr(space + 1));
  if (!decoded) return result;
  const auto colon = decoded->find(':');
  result.UserName = decoded->substr(0, colon);
  if (colon != std::string::npos) result.Password = decoded->substr(colon + 1);
  return result;
}

}  // namespace pelorin
