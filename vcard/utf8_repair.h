// Making written text valid UTF-8 whatever a record held.
#ifndef PELORIN_VCARD_UTF8_REPAIR_H_
#define PELORIN_VCARD_UTF8_REPAIR_H_

#include <string>
#include <string_view>

namespace pelorin {

// Well-formed sequences pass; every byte that does not start one (a stray
// continuation byte, a cut sequence, an overlong form, a surrogate, anything
// past U+10FFFF) becomes U+FFFD on its own.
std::string ReplaceInvalidUtf8(std::string_view bytes);

// Whether `byte` continues a sequence rather than starting a character.
constexpr bool IsUtf8Continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

}  // namespace pelorin

#endif  // PELORIN_VCARD_UTF8_REPAIR_H_
