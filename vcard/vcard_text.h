// Text operations shared by the vCard reader and the record mapping: XML
// escaping, token and list splitting, parameter words and the property table.
// Pure functions on UTF-8 text; safe on any thread.
#ifndef PELORIN_VCARD_VCARD_TEXT_H_
#define PELORIN_VCARD_VCARD_TEXT_H_

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin {

// The properties the reader recognises; the index selects the mapping.
inline constexpr std::array<std::string_view, 28> PropertyNames = {
    "FN",    "N",   "NICKNAME", "PHOTO",      "BDAY", "ADR",    "LABEL",
    "TEL",   "EMAIL", "MAILER", "TZ",         "GEO",  "TITLE",  "ROLE",
    "LOGO",  "AGENT", "ORG",    "CATEGORIES", "NOTE", "PRODID", "REV",
    "SORT-STRING", "SOUND", "URL", "UID",     "VERSION", "CLASS", "KEY"};

// The escapes a card's values carry: kBackslash those of vCard 3.0 and 4.0
// (\, \; \n \N \\, and \: \" as writers use them in the wild); kSemicolon
// the one of vCard 2.1, "\;" inside a structured value. Escaped separators do
// not split, and components are unescaped after the split.
enum class TEscapes { kNone, kSemicolon, kBackslash };

// "&" first, then "<", ">", '"' and "'"; every other byte passes unchanged.
std::string EscapeXml(std::string_view text);
void AppendEscapedXml(std::string& out, std::string_view text);

// EscapeXml of the text after undoing its backslash escapes (when `escapes`
// says so), in one pass.
void AppendText(std::string& out, std::string_view text, TEscapes escapes);

// Returns the text before the first `separator` and removes it and the
// separator from `text`; without a separator returns all and leaves `text`
// empty. Views, so repeated fetches over one long line stay linear. With
// kBackslash a separator after a backslash does not count.
std::string_view FetchToken(std::string_view& text, char separator,
                            TEscapes escapes = TEscapes::kNone);

// Repeated FetchToken at ","; empty pieces are dropped, the order stays.
std::vector<std::string_view> SplitList(std::string_view text,
                                        TEscapes escapes = TEscapes::kNone);

// The parameter words and value of a typed property's text: the text before
// the first ":" cut at every ";" and ",", empty pieces dropped, upper-cased;
// without ":" there are no words and the whole text is the value.
struct TWordsAndValue {
  std::vector<std::string> words;
  std::string_view value;
};
TWordsAndValue SplitWords(std::string_view property_text);

// Index of the first entry equal to `name` (exact comparison), or -1.
template <std::size_t N>
int IndexOfName(std::string_view name, const std::array<std::string_view, N>& table) {
  for (std::size_t i = 0; i < N; ++i) {
    if (table[i] == name) return static_cast<int>(i);
  }
  return -1;
}

// Whether `word` may stand as an element name. Only ASCII names are accepted
// (letter or "_" first, then letters, digits, ".", "-", "_"): a marker that a
// store could refuse is better left out than allowed to break the record.
bool IsXmlName(std::string_view word);

// QUOTED-PRINTABLE, in any case: wherever it stands among the values of TYPE or
// ENCODING, the reader takes the value as quoted-printable and decodes it, so
// the word is spent there and never written again.
bool IsQuotedPrintableWord(std::string_view word);
// QUOTED-PRINTABLE, BASE64, B, 8BIT or 7BIT, in any case: the words that, as a
// bare 2.1 parameter or a TYPE of their own, say how a value is encoded.
bool IsEncodingWord(std::string_view word);

// ASCII helpers of the reader. Trim removes codes 0 to 32 at both ends.
std::string_view Trim(std::string_view text);
std::string_view TrimLeft(std::string_view text);
std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);
bool EqualsNoCase(std::string_view text, std::string_view upper);
bool StartsWithNoCase(std::string_view text, std::string_view upper);
bool ContainsNoCase(std::string_view text, std::string_view upper);

}  // namespace pelorin

#endif  // PELORIN_VCARD_VCARD_TEXT_H_
