// Form values as a browser sends them: everything but the unreserved characters
// percent-encoded. Shared by the in-process and the black-box tests.
#ifndef PELORIN_TESTS_FORM_ENCODE_H_
#define PELORIN_TESTS_FORM_ENCODE_H_

#include <string>
#include <utility>
#include <vector>

namespace pelorin::testing {

inline std::string FormEncode(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
        c == '-' || c == '_' || c == '.' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

// A whole form body: name=value pairs, encoded, joined by "&".
inline std::string FormBody(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string body;
  for (const auto& [name, value] : fields) {
    if (!body.empty()) body += '&';
    body += FormEncode(name) + "=" + FormEncode(value);
  }
  return body;
}

}  // namespace pelorin::testing

#endif  // PELORIN_TESTS_FORM_ENCODE_H_
