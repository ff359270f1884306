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

// The name of a header without its group, as written.
std::string_view PropertyNameOf(std::string_view header);

}  // namespace pelorin

#endif  // PELORIN_VCARD_VCARD_PROPERTY_H_
