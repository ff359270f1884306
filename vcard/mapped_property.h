// The mapped elements of a card record (FN, N, TEL, ADR, PHOTO...) written
// back as the properties they were read from.
#ifndef PELORIN_VCARD_MAPPED_PROPERTY_H_
#define PELORIN_VCARD_MAPPED_PROPERTY_H_

#include <optional>
#include <string_view>

#include "vcard/content_line.h"
#include "vcard/vcard_record.h"
#include "vcard/vcard_version.h"

namespace pelorin {

// Whether the writer writes the element as a mapped property. VERSION is not
// one: the writer writes its own.
bool IsMappedElement(std::string_view name);

// The line of a mapped element with its PARAMS (null when it has none)
// merged in. Markers become one TYPE parameter, upper case in 3.0 and lower
// case in 4.0, before the parameters of PARAMS. nullopt when there is
// nothing to write: a binary without data, a GEO without coordinates.
std::optional<TContentLine> MappedContentLine(const TRecordElement& element,
                                              const TRecordElement* params, TvCardVersion version);

// The FN a card without one gets: GIVEN and FAMILY of its N, else the
// ORGNAME of its ORG, else empty.
std::string FallbackFormattedName(const TRecordElement& card);

}  // namespace pelorin

#endif  // PELORIN_VCARD_MAPPED_PROPERTY_H_
