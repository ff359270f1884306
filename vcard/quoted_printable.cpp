#include "vcard/quoted_printable.h"

namespace pelorin {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t equals = text.find('=', i);
    if (equals == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, equals - i));
    i = equals + 1;
    // A value cut short after its "=" keeps what follows but not the "=".
    if (text.size() - i < 2) continue;
    const char first = text[i];
    const char second = text[i + 1];
    const int high = HexValue(first);
    const int low = HexValue(second);
    if (high >= 0 && low >= 0) {
      out += static_cast<char>(high * 16 + low);
    } else if (first != '\r' || second != '\n') {
      out += '=';
      out += first;
      out += second;
    }
    i += 2;
  }
  return out;
}

}  // namespace pelorin
