#include "web/form_fields.h"

namespace pelorin {
namespace {

// -1 for a character that is not a hexadecimal digit.
int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string JoinRawParams(std::string_view body, std::string_view query) {
  std::string joined(body);
  if (query.empty()) return joined;
  if (!joined.empty()) joined += "\r\n";
  joined += query;
  return joined;
}

std::string DecodeFormPiece(std::string_view piece) {
  std::string decoded;
  decoded.reserve(piece.size());
  for (std::size_t i = 0; i < piece.size(); ++i) {
    const char c = piece[i];
    if (c == '+') {
      decoded += ' ';
    } else if (c == '%' && piece.size() - i >= 3) {
      const int high = HexDigitValue(piece[i + 1]);
      const int low = HexDigitValue(piece[i + 2]);
      const int value = (high < 0 || low < 0) ? 0 : high * 16 + low;
      if (value != 0) decoded += static_cast<char>(static_cast<unsigned char>(value));
      i += 2;
    } else {
      decoded += c;
    }
  }
  return decoded;
}

std::vector<std::string> SplitFormFields(std::string_view raw_params) {
  std::vector<std::string> fields;
  if (raw_params.empty()) return fields;
  std::size_t start = 0;
  while (true) {
    const auto amp = raw_params.find('&', start);
    fields.push_back(DecodeFormPiece(raw_params.substr(start, amp == std::string_view::npos ? amp : amp - start)));
    if (amp == std::string_view::npos) break;
    start = amp + 1;
  }
  return fields;
}

}  // namespace pelorin
