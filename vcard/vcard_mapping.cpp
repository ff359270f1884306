#include "vcard/vcard_mapping.h"

#include <algorithm>
#include <array>

namespace pelorin {
namespace {

using TWords = std::vector<std::string>;

// Element of each simple property, by index in PropertyNames; empty for the
// properties with an operation of their own.
constexpr std::array<std::string_view, PropertyNames.size()> kSimpleTags = {
    "FN",  "",     "",      "",  "BDAY", "",        "",    "",    "",      "MAILER",
    "TZ",  "",     "TITLE", "ROLE", "",  "",        "",    "",    "NOTE",  "PRODID",
    "",    "SORTSTR", "",   "URL", "UID", "VERSION", "",   ""};

constexpr int kPropertyN = 1, kPropertyNickname = 2, kPropertyGeo = 11, kPropertyOrg = 16,
              kPropertyCategories = 17, kPropertyRev = 20, kPropertyClass = 26;

constexpr std::array<std::string_view, 5> kNameParts = {"FAMILY", "GIVEN", "MIDDLE", "PREFIX",
                                                        "SUFFIX"};
constexpr std::array<std::string_view, 7> kAddressParts = {"POBOX",  "EXTADR", "STREET", "LOCALITY",
                                                           "REGION", "PCODE",  "CTRY"};
constexpr std::array<std::string_view, 4> kDefaultAddressMarkers = {"INTL", "POSTAL", "PARCEL",
                                                                    "WORK"};
constexpr std::array<std::string_view, 5> kPhoneKinds = {"VOICE", "FAX", "VIDEO", "PAGER",
                                                         "MODEM"};

void AppendElement(std::string& out, std::string_view tag, std::string_view text,
                   TEscapes escapes) {
  out += '<';
  out += tag;
  out += '>';
  AppendText(out, text, escapes);
  out += "</";
  out += tag;
  out += '>';
}

void AppendMarker(std::string& out, std::string_view word) {
  out += '<';
  out += word;
  out += "/>";
}

TWords MarkerWords(const TWords& words) {
  TWords valid;
  std::copy_if(words.begin(), words.end(), std::back_inserter(valid),
               [](const std::string& w) { return IsXmlName(w); });
  return valid;
}

void AppendN(std::string& out, std::string_view text, TEscapes escapes) {
  out += "<N>";
  for (std::string_view part : kNameParts) {
    const std::string_view component = FetchToken(text, ';', escapes);
    if (!component.empty()) AppendElement(out, part, component, escapes);
  }
  out += "</N>";
}

void AppendNickname(std::string& out, std::string_view text, TEscapes escapes) {
  for (std::string_view piece : SplitList(text, escapes)) {
    AppendElement(out, "NICKNAME", piece, escapes);
  }
}

void AppendCategories(std::string& out, std::string_view text, TEscapes escapes) {
  out += "<CATEGORIES>";
  for (std::string_view piece : SplitList(text, escapes)) {
    AppendElement(out, "KEYWORD", piece, escapes);
  }
  out += "</CATEGORIES>";
}

// The name, then one unit per ";"-separated component (a comma belongs to its
// unit's text: "Sales, Europe" is one unit).
void AppendOrg(std::string& out, std::string_view text, TEscapes escapes) {
  out += "<ORG>";
  AppendElement(out, "ORGNAME", FetchToken(text, ';', escapes), escapes);
  while (!text.empty()) {
    const std::string_view unit = FetchToken(text, ';', escapes);
    if (!unit.empty()) AppendElement(out, "ORGUNIT", unit, escapes);
  }
  out += "</ORG>";
}

void AppendGeo(std::string& out, std::string_view text, TEscapes escapes) {
  out += "<GEO>";
  AppendElement(out, "LAT", FetchToken(text, ';', escapes), escapes);
  AppendElement(out, "LON", FetchToken(text, ';', escapes), escapes);
  out += "</GEO>";
}

void AppendClass(std::string& out, std::string_view text) {
  text = Trim(text);
  out += "<CLASS>";
  if (IsXmlName(text)) AppendMarker(out, text);
  out += "</CLASS>";
}

// ADR and LABEL without words are marked as every kind of address at once
// (the default of vCard 2.1 and 3.0; 4.0 has none).
void AppendAddressMarkers(std::string& out, const TWords& words, bool defaults) {
  if (words.empty() && defaults) {
    for (std::string_view word : kDefaultAddressMarkers) AppendMarker(out, word);
  }
  for (const std::string& word : words) AppendMarker(out, word);
}

void AppendAdr(std::string& out, const TWords& words, std::string_view value, TEscapes escapes,
               bool defaults) {
  out += "<ADR>";
  AppendAddressMarkers(out, words, defaults);
  for (std::string_view part : kAddressParts) {
    const std::string_view component = FetchToken(value, ';', escapes);
    if (!component.empty()) AppendElement(out, part, component, escapes);
  }
  out += "</ADR>";
}

void AppendLabel(std::string& out, const TWords& words, std::string_view value, TEscapes escapes,
                 bool defaults) {
  out += "<LABEL>";
  AppendAddressMarkers(out, words, defaults);
  AppendElement(out, "LINE", value, escapes);
  out += "</LABEL>";
}

// A number without a kind word is a voice number (in vCard 2.1 and 3.0).
void AppendTel(std::string& out, const TWords& words, std::string_view value, TEscapes escapes,
               bool defaults) {
  out += "<TEL>";
  AppendElement(out, "NUMBER", value, escapes);
  for (const std::string& word : words) AppendMarker(out, word);
  const bool has_kind = std::any_of(words.begin(), words.end(), [](const std::string& w) {
    return std::find(kPhoneKinds.begin(), kPhoneKinds.end(), w) != kPhoneKinds.end();
  });
  if (!has_kind && defaults) AppendMarker(out, "VOICE");
  out += "</TEL>";
}

// PREF comes first, then every further word (the mail system, HOME, WORK...).
void AppendEmail(std::string& out, TWords words, std::string_view value, TEscapes escapes) {
  out += "<EMAIL>";
  AppendElement(out, "USERID", value, escapes);
  const auto pref = std::find(words.begin(), words.end(), "PREF");
  if (pref != words.end()) {
    AppendMarker(out, "PREF");
    words.erase(pref);
  }
  for (const std::string& word : words) AppendMarker(out, word);
  out += "</EMAIL>";
}

std::string MapTyped(int index, std::string_view text, TEscapes escapes) {
  TWordsAndValue split = SplitWords(text);
  std::string out;
  AppendProperty(out, index, split.words, split.value, escapes);
  return out;
}

template <typename Append>
std::string Build(Append append, std::string_view text, TEscapes escapes) {
  std::string out;
  append(out, text, escapes);
  return out;
}

}  // namespace

bool PropertyHasOutput(int index) {
  return index >= 0 && index < static_cast<int>(PropertyNames.size()) && index != 3 &&
         index != 14 && index != 15 && index != 22 && index != 27;
}

bool PropertyTakesMarkers(int index) {
  return index == kPropertyAdr || index == kPropertyLabel || index == kPropertyTel ||
         index == kPropertyEmail;
}

bool IsPartOfProperty(int index, std::string_view word) {
  if (index == kPropertyAdr) return std::find(kAddressParts.begin(), kAddressParts.end(), word) != kAddressParts.end();
  if (index == kPropertyLabel) return word == "LINE";
  if (index == kPropertyTel) return word == "NUMBER";
  if (index == kPropertyEmail) return word == "USERID";
  return false;
}

std::string MapSimple(std::string_view tag, std::string_view text, TEscapes escapes) {
  std::string out;
  AppendElement(out, tag, text, escapes);
  return out;
}

std::string MapRev(std::string_view text, TEscapes escapes) {
  return MapSimple("REV", text, escapes);
}

std::string MapClass(std::string_view text) {
  std::string out;
  AppendClass(out, text);
  return out;
}

std::string MapN(std::string_view text, TEscapes escapes) { return Build(AppendN, text, escapes); }
std::string MapNickname(std::string_view text, TEscapes escapes) {
  return Build(AppendNickname, text, escapes);
}
std::string MapCategories(std::string_view text, TEscapes escapes) {
  return Build(AppendCategories, text, escapes);
}
std::string MapOrg(std::string_view text, TEscapes escapes) {
  return Build(AppendOrg, text, escapes);
}
std::string MapGeo(std::string_view text, TEscapes escapes) {
  return Build(AppendGeo, text, escapes);
}
std::string MapAdr(std::string_view text, TEscapes escapes) {
  return MapTyped(kPropertyAdr, text, escapes);
}
std::string MapLabel(std::string_view text, TEscapes escapes) {
  return MapTyped(kPropertyLabel, text, escapes);
}
std::string MapTel(std::string_view text, TEscapes escapes) {
  return MapTyped(kPropertyTel, text, escapes);
}
std::string MapEmail(std::string_view text, TEscapes escapes) {
  return MapTyped(kPropertyEmail, text, escapes);
}

void AppendProperty(std::string& out, int index, const std::vector<std::string>& words,
                    std::string_view value, TEscapes escapes, bool defaults) {
  if (!PropertyHasOutput(index)) return;
  if (!kSimpleTags[index].empty()) {
    AppendElement(out, kSimpleTags[index], value, escapes);
    return;
  }
  switch (index) {
    case kPropertyN: AppendN(out, value, escapes); break;
    case kPropertyNickname: AppendNickname(out, value, escapes); break;
    case kPropertyCategories: AppendCategories(out, value, escapes); break;
    case kPropertyOrg: AppendOrg(out, value, escapes); break;
    case kPropertyGeo: AppendGeo(out, value, escapes); break;
    case kPropertyRev: AppendElement(out, "REV", value, escapes); break;
    case kPropertyClass: AppendClass(out, value); break;
    case kPropertyAdr: AppendAdr(out, MarkerWords(words), value, escapes, defaults); break;
    case kPropertyLabel: AppendLabel(out, MarkerWords(words), value, escapes, defaults); break;
    case kPropertyTel: AppendTel(out, MarkerWords(words), value, escapes, defaults); break;
    case kPropertyEmail: AppendEmail(out, MarkerWords(words), value, escapes); break;
    default: break;
  }
}

}  // namespace pelorin
