// One property line of a card taken apart: the name without its group, the
// marker words and settings its parameters carry, and its value. Pure
// functions over views of the caller's line.
#ifndef PELORIN_VCARD_VCARD_PROPERTY_H_
#define PELORIN_VCARD_VCARD_PROPERTY_H_

#include <string>
#include <string_view>
#include <vector>

namespace pelorin {

// A line cut at the ":" that ends its parameters: the first ":" outside
// double quotes (quoted parameter values of vCard 3.0/4.0 may hold ":" and
// ";"), or the first ":" when the quotes do not close. A line without ":" has
// no parameters: its name runs to the first ";" and its value follows it.
struct THeaderSplit {
  std::string_view header;
  std::string_view value;
  bool has_colon = false;
};
THeaderSplit SplitHeader(std::string_view line);

struct TPropertyHeader {
  std::string name;                // upper-cased, group prefix ("item1.") removed
  std::vector<std::string> words;  // markers: TYPE values, PREF, bare words (upper case)
  std::string charset;             // value of CHARSET, empty when none
  bool base64 = false;             // ENCODING=B or BASE64, or a bare BASE64
};

// Reads the header of SplitHeader. Only element names become words; every
// name=value parameter other than TYPE, PREF, CHARSET and ENCODING is dropped,
// and so are the encoding words (QUOTED-PRINTABLE, BASE64).
TPropertyHeader ParseHeader(std::string_view header);

// Letters, digits and "-": the names vCard gives groups, properties and
// parameters.
bool IsVcardName(std::string_view name);

// A property name as cards carry it: a vCard name, or an extension name
// ("X-...") that may also hold "_", as some writers' do ("X-WAB-SPOUSE_NAME").
bool IsPropertyName(std::string_view name);

// The name of a header without its group, as written.
std::string_view PropertyNameOf(std::string_view header);

// Everything a header says, for a record that keeps it all: the group and the
// name as written, and every parameter in order. Parameter names are
// upper-cased; a bare word (vCard 2.1 "TEL;CELL:") is a TYPE value, as 3.0
// reads it. Values are split at commas outside quotes and the quotes taken
// off; with `caret_escapes` (vCard 4.0) ^n, ^^ and ^' are undone.
struct TParameter {
  std::string Name;
  std::vector<std::string> Values;
};
struct TPropertyLine {
  std::string Group;
  std::string Name;
  std::vector<TParameter> Params;
};
TPropertyLine ParsePropertyLine(std::string_view header, bool caret_escapes);

}  // namespace pelorin

#endif  // PELORIN_VCARD_VCARD_PROPERTY_H_
