#include "vcard/utf8_repair.h"

#include <cstddef>

namespace pelorin {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool InRange(unsigned char byte, unsigned char low, unsigned char high) {
  return byte >= low && byte <= high;
}

// Length of the well-formed sequence at the front of `bytes` (the table of
// well-formed byte sequences in the Unicode standard), 0 when there is none.
std::size_t SequenceLength(std::string_view bytes) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = at(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char second_low = 0x80, second_high = 0xBF;
  if (InRange(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (InRange(lead, 0xE0, 0xEF)) {
    length = 3;
    if (lead == 0xE0) second_low = 0xA0;   // no overlong forms
    if (lead == 0xED) second_high = 0x9F;  // no surrogates
  } else if (InRange(lead, 0xF0, 0xF4)) {
    length = 4;
    if (lead == 0xF0) second_low = 0x90;   // no overlong forms
    if (lead == 0xF4) second_high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (bytes.size() < length || !InRange(at(1), second_low, second_high)) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!IsUtf8Continuation(bytes[i])) return 0;
  }
  return length;
}

}  // namespace

std::string ReplaceInvalidUtf8(std::string_view bytes) {
  // Almost every text is well-formed already: check first, copy once.
  std::size_t valid = 0;
  while (valid < bytes.size()) {
    if (static_cast<unsigned char>(bytes[valid]) < 0x80) {
      ++valid;
      continue;
    }
    const std::size_t length = SequenceLength(bytes.substr(valid));
    if (length == 0) break;
    valid += length;
  }
  if (valid == bytes.size()) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const std::size_t length = SequenceLength(bytes);
    if (length == 0) {
      out += kReplacement;
      bytes.remove_prefix(1);
    } else {
      out.append(bytes.substr(0, length));
      bytes.remove_prefix(length);
    }
  }
  return out;
}

}  // namespace pelorin
