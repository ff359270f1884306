// The mapping of one vCard property onto the elements of a `vCard` record.
// Each operation takes the property text (UTF-8, parameters already taken
// off for the untyped properties) and returns the record's XML; pure.
#ifndef PELORIN_VCARD_VCARD_MAPPING_H_
#define PELORIN_VCARD_VCARD_MAPPING_H_

#include <string>
#include <string_view>
#include <vector>

#include "vcard/vcard_text.h"

namespace pelorin {

// Positions in PropertyNames that the reader needs by name.
inline constexpr int kPropertyAdr = 5;
inline constexpr int kPropertyLabel = 6;
inline constexpr int kPropertyTel = 7;
inline constexpr int kPropertyEmail = 8;
inline constexpr int kPropertyVersion = 25;

// Whether the property at `index` writes anything (PHOTO, LOGO, AGENT, SOUND
// and KEY are recognised but write nothing).
bool PropertyHasOutput(int index);
// TEL, ADR, LABEL and EMAIL: the properties whose parameter words become markers.
bool PropertyTakesMarkers(int index);
// Whether `word` names one of the parts of that property's element (CTRY of
// ADR, NUMBER of TEL...): such a type word cannot be a marker beside the part.
bool IsPartOfProperty(int index, std::string_view word);

// "<tag>" text "</tag>", the text escaped.
std::string MapSimple(std::string_view tag, std::string_view text,
                      TEscapes escapes = TEscapes::kNone);
// REV. Its text is escaped like every other: a REV holding "<" or "&" must
// not make the record ill-formed.
std::string MapRev(std::string_view text, TEscapes escapes = TEscapes::kNone);
// "<CLASS><" text "/></CLASS>"; a text that is no element name (after
// trimming blanks) leaves an empty CLASS.
std::string MapClass(std::string_view text);
std::string MapN(std::string_view text, TEscapes escapes = TEscapes::kNone);
std::string MapNickname(std::string_view text, TEscapes escapes = TEscapes::kNone);
std::string MapCategories(std::string_view text, TEscapes escapes = TEscapes::kNone);
std::string MapOrg(std::string_view text, TEscapes escapes = TEscapes::kNone);
std::string MapGeo(std::string_view text, TEscapes escapes = TEscapes::kNone);

// The typed properties split their text with SplitWords. Marker words that
// are no element name are left out before any rule looks at the words.
std::string MapAdr(std::string_view text, TEscapes escapes = TEscapes::kNone);
std::string MapLabel(std::string_view text, TEscapes escapes = TEscapes::kNone);
std::string MapTel(std::string_view text, TEscapes escapes = TEscapes::kNone);
std::string MapEmail(std::string_view text, TEscapes escapes = TEscapes::kNone);

// The reader's entry: appends the elements of the property at `index` of
// PropertyNames, given its marker words (used by the typed properties only)
// and its value. `defaults`: the types vCard 2.1 and 3.0 imply for an ADR,
// LABEL or TEL without any (4.0 implies none).
void AppendProperty(std::string& out, int index, const std::vector<std::string>& words,
                    std::string_view value, TEscapes escapes, bool defaults = true);

}  // namespace pelorin

#endif  // PELORIN_VCARD_VCARD_MAPPING_H_
