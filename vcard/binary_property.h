// PHOTO, LOGO, SOUND and KEY: a TYPE (media type) with BINVAL (base64), or an
// EXTVAL (a URI), written as each version writes binaries and links.
#ifndef PELORIN_VCARD_BINARY_PROPERTY_H_
#define PELORIN_VCARD_BINARY_PROPERTY_H_

#include <optional>
#include <string>
#include <string_view>

#include "vcard/content_line.h"
#include "vcard/vcard_record.h"
#include "vcard/vcard_version.h"

namespace pelorin {

bool IsBinaryElement(std::string_view name);

// The 3.0 TYPE word of a media type: image/x and audio/x give X upper-cased,
// application/pgp-keys gives PGP, application/pkix-cert gives X509; any other
// type is written as it is.
std::string TypeWordOfMediaType(std::string_view media_type);

// The 4.0 media type of a stored TYPE. A media type passes; a word that the
// reader kept because it knew no media type for it (any text without "/")
// becomes one under the property's own top-level type (image/ for PHOTO and
// LOGO, audio/ for SOUND, application/ for KEY, where PGP and X509 have
// their own), since a data: URI can only name a media type.
std::string MediaTypeOfType(std::string_view property, std::string_view type);

// The line of a binary element, its parameters and value; nullopt when the
// element has neither BINVAL nor EXTVAL (BINVAL wins when it has both).
// 3.0: ENCODING=b;TYPE=word with the base64, VALUE=uri with a link; a KEY
// link is written as a text value, since RFC 2426 has no URI keys. 4.0: a
// data: URI, or the link itself with its MEDIATYPE when a TYPE is given.
std::optional<TContentLine> BinaryContentLine(const TRecordElement& element,
                                              TvCardVersion version);

}  // namespace pelorin

#endif  // PELORIN_VCARD_BINARY_PROPERTY_H_
