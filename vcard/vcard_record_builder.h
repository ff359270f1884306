// One property of a card as record XML that keeps all of it (docs/RECORD_FORMAT.md):
// the mapped element the pages read, followed by PARAMS for the group and the
// parameters that element cannot hold; PHOTO, LOGO, SOUND and KEY in one shape
// whatever the version wrote; every other property as a generic PROP. Pure.
#ifndef PELORIN_VCARD_VCARD_RECORD_BUILDER_H_
#define PELORIN_VCARD_VCARD_RECORD_BUILDER_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "vcard/vcard_property.h"
#include "vcard/vcard_text.h"

namespace pelorin {

// The record of one card read from vCard text, photos included; a card beyond
// it is refused whole, never cut. (Each text is bounded by the store's gate.)
inline constexpr std::size_t kMaxCardBytes = 10u << 20;

struct TCardVersion {
  TEscapes Escapes = TEscapes::kNone;
  bool Version4 = false;  // no implied types; ^ escapes in parameters
};

// Appends the record elements of one property. `value` is its value as UTF-8
// after unfolding and quoted-printable decoding, escapes still in; parameter
// values, group and name must be UTF-8 too. A binary value (ENCODING=b) comes
// with its white space still in; it is taken out here.
void AppendPropertyRecord(std::string& out, const TPropertyLine& line, std::string_view value,
                          const TCardVersion& version);

// Whether a parameter only said how the value was encoded (CHARSET, ENCODING,
// a bare 2.1 QUOTED-PRINTABLE or BASE64): spent by decoding, not kept.
bool IsEncodingParameter(const TParameter& param);
// Whether a parameter says base64 (ENCODING=b, ENCODING=BASE64, a bare BASE64 or B).
bool IsBase64Parameter(const TParameter& param);
// Whether the property's value is base64 data (ENCODING=b or BASE64).
bool IsBase64Property(const TPropertyLine& line);

}  // namespace pelorin

#endif  // PELORIN_VCARD_VCARD_RECORD_BUILDER_H_
