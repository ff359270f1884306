// Quoted-printable decoding (RFC 2045) of vCard values, as the reader needs
// it. A pure function of untrusted text: linear, no reads past the end.
#ifndef PELORIN_VCARD_QUOTED_PRINTABLE_H_
#define PELORIN_VCARD_QUOTED_PRINTABLE_H_

#include <string>
#include <string_view>

namespace pelorin {

// "=" and two hexadecimal digits give that byte; "=" CR LF (a soft break)
// vanishes; "=" and two other characters stay as written; an "=" among the
// last two characters is dropped (a character after it stays); everything
// else, CR and LF and trailing blanks included, is copied. The bytes are not
// converted to any character set.
std::string DecodeQuotedPrintable(std::string_view text);

}  // namespace pelorin

#endif  // PELORIN_VCARD_QUOTED_PRINTABLE_H_
