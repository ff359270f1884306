#include "vcard/mapped_property.h"

#include <algorithm>
#include <initializer_list>
#include <array>
#include <span>
#include <string>

#include "vcard/binary_property.h"
#include "vcard/record_params.h"
#include "vcard/vcard_escape.h"
#include "vcard/vcard_text.h"

namespace pelorin {
namespace {

using TParts = std::span<const std::string_view>;

constexpr std::array<std::string_view, 5> kNameParts = {"FAMILY", "GIVEN", "MIDDLE", "PREFIX",
                                                        "SUFFIX"};
constexpr std::array<std::string_view, 7> kAddressParts = {"POBOX",  "EXTADR", "STREET", "LOCALITY",
                                                           "REGION", "PCODE",  "CTRY"};
constexpr std::array<std::string_view, 1> kNumberPart = {"NUMBER"};
constexpr std::array<std::string_view, 1> kUserIdPart = {"USERID"};
constexpr std::array<std::string_view, 1> kLinePart = {"LINE"};

// Written as escaped text; SORTSTR is the element of SORT-STRING.
constexpr std::array<std::string_view, 9> kTextElements = {
    "FN", "MAILER", "TZ", "TITLE", "ROLE", "NOTE", "PRODID", "NICKNAME", "SORTSTR"};
// Dates, links and identifiers: their commas and semicolons are no separators.
constexpr std::array<std::string_view, 4> kSeparatorFreeElements = {"BDAY", "REV", "URL", "UID"};
constexpr std::array<std::string_view, 9> kStructuredElements = {
    "N", "ADR", "LABEL", "TEL", "EMAIL", "ORG", "GEO", "CATEGORIES", "CLASS"};

template <std::size_t N>
bool Contains(const std::array<std::string_view, N>& table, std::string_view name) {
  return std::find(table.begin(), table.end(), name) != table.end();
}

bool IsMarker(const TRecordElement& child, TParts parts) {
  return child.Text.empty() && child.Children.empty() && !IsEncodingWord(child.Name) &&
         std::find(parts.begin(), parts.end(), child.Name) == parts.end();
}

// `implied`: in 3.0 an ADR or LABEL without types is every kind of address and a
// TEL without a kind a voice line. A record from a 4.0 card may lack them; they
// are written out, so that the 3.0 text reads back to what it says and a second
// export is the same bytes.
void AddMarkers(TContentLine& line, const TRecordElement& element, TParts parts,
                TvCardVersion version, std::initializer_list<std::string_view> implied = {}) {
  TContentParam type{"TYPE", {}};
  for (const TRecordElement& child : element.Children) {
    if (!IsMarker(child, parts)) continue;
    type.Values.push_back(version == TvCardVersion::k30 ? UpperAscii(child.Name)
                                                        : LowerAscii(child.Name));
  }
  if (version == TvCardVersion::k30 && implied.size() > 0) {
    // For TEL the implied VOICE stands unless a kind is given; for ADR and LABEL
    // the four kinds stand unless any type is given.
    const bool tel = *implied.begin() == "VOICE";
    static constexpr std::array<std::string_view, 5> kKinds = {"VOICE", "FAX", "VIDEO", "PAGER", "MODEM"};
    const bool given = std::any_of(type.Values.begin(), type.Values.end(), [&](const std::string& value) {
      return !tel || std::find(kKinds.begin(), kKinds.end(), value) != kKinds.end();
    });
    if (!given) {
      for (const std::string_view word : implied) type.Values.emplace_back(word);
    }
  }
  if (!type.Values.empty()) line.Params.push_back(std::move(type));
}

// Each part escaped, missing parts empty, joined by ";".
std::string StructuredValue(const TRecordElement& element, TParts parts,
                            std::string (*escape)(std::string_view) = EscapeText) {
  std::string value;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) value += ';';
    value += escape(ChildText(element, parts[i]));
  }
  return value;
}

// The escaped texts of every child of that name, joined by `separator`.
std::string JoinedChildren(const TRecordElement& element, std::string_view name, char separator) {
  std::string value;
  bool first = true;
  for (const TRecordElement& child : element.Children) {
    if (child.Name != name) continue;
    if (!first) value += separator;
    value += EscapeText(child.Text);
    first = false;
  }
  return value;
}

std::string OrgValue(const TRecordElement& element) {
  std::string value = EscapeText(ChildText(element, "ORGNAME"));
  for (const TRecordElement& child : element.Children) {
    if (child.Name == "ORGUNIT") value += ';' + EscapeText(child.Text);
  }
  return value;
}

// The name of the first marker; empty when there is none.
std::string_view ClassWord(const TRecordElement& element) {
  for (const TRecordElement& child : element.Children) {
    if (child.Text.empty() && child.Children.empty()) return child.Name;
  }
  return {};
}

// Fills the value (and markers) of the properties with parts; false when the
// element says nothing that can be written.
bool FillStructured(TContentLine& line, const TRecordElement& element, TvCardVersion version) {
  const std::string_view name = element.Name;
  if (name == "N") {
    // The record holds a component's text, not whether its commas were a list
    // ("Jr.,M.D.") or part of one name ("Richter\, James"): escaped, every
    // program shows the same text again.
    line.Value = StructuredValue(element, kNameParts);
  } else if (name == "ADR") {
    AddMarkers(line, element, kAddressParts, version, {"INTL", "POSTAL", "PARCEL", "WORK"});
    line.Value = StructuredValue(element, kAddressParts);
  } else if (name == "LABEL") {
    AddMarkers(line, element, kLinePart, version, {"INTL", "POSTAL", "PARCEL", "WORK"});
    line.Value = EscapeText(ChildText(element, "LINE"));
  } else if (name == "TEL") {
    AddMarkers(line, element, kNumberPart, version, {"VOICE"});
    line.Value = EscapeText(ChildText(element, "NUMBER"));
  } else if (name == "EMAIL") {
    AddMarkers(line, element, kUserIdPart, version);
    line.Value = EscapeText(ChildText(element, "USERID"));
  } else if (name == "ORG") {
    line.Value = OrgValue(element);
  } else if (name == "CATEGORIES") {
    line.Value = JoinedChildren(element, "KEYWORD", ',');
  } else if (name == "CLASS") {
    line.Value = EscapeText(ClassWord(element));
  } else if (name == "GEO") {
    const std::string_view lat = ChildText(element, "LAT"), lon = ChildText(element, "LON");
    // A GEO of empty coordinates is written too (the reader keeps one); one
    // without any has nothing to say.
    if (FindChild(element, "LAT") == nullptr && FindChild(element, "LON") == nullptr) return false;
    line.Value = version == TvCardVersion::k30
                     ? EscapeText(lat) + ';' + EscapeText(lon)
                     : "geo:" + EscapeKeepingSeparators(lat) + ',' + EscapeKeepingSeparators(lon);
  }
  return true;
}

}  // namespace

bool IsMappedElement(std::string_view name) {
  return Contains(kTextElements, name) || Contains(kSeparatorFreeElements, name) ||
         Contains(kStructuredElements, name) || IsBinaryElement(name);
}

std::optional<TContentLine> MappedContentLine(const TRecordElement& element,
                                              const TRecordElement* params, TvCardVersion version) {
  std::optional<TContentLine> line;
  if (IsBinaryElement(element.Name)) {
    line = BinaryContentLine(element, version);
  } else if (Contains(kStructuredElements, element.Name)) {
    line.emplace();
    if (!FillStructured(*line, element, version)) line.reset();
  } else if (Contains(kTextElements, element.Name)) {
    line.emplace();
    line->Value = EscapeText(element.Text);
  } else if (Contains(kSeparatorFreeElements, element.Name)) {
    line.emplace();
    line->Value = EscapeKeepingSeparators(element.Text);
  }
  if (!line) return line;
  line->Name = element.Name == "SORTSTR" ? "SORT-STRING" : element.Name;
  if (params != nullptr) MergeParams(*line, *params);
  return line;
}

std::string FallbackFormattedName(const TRecordElement& card) {
  if (const TRecordElement* n = FindChild(card, "N")) {
    const std::string_view given = ChildText(*n, "GIVEN"), family = ChildText(*n, "FAMILY");
    if (!given.empty() || !family.empty()) {
      std::string name(given);
      if (!given.empty() && !family.empty()) name += ' ';
      name += family;
      return name;
    }
  }
  if (const TRecordElement* org = FindChild(card, "ORG")) return std::string(ChildText(*org, "ORGNAME"));
  return {};
}

}  // namespace pelorin
