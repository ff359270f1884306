// Escaping of written values and parameter values, per version. Line breaks
// (LF, CR LF or a lone CR) become one escape; other control characters, which
// no content line may hold and XML 1.0 cannot carry anyway, are dropped.
#ifndef PELORIN_VCARD_VCARD_ESCAPE_H_
#define PELORIN_VCARD_VCARD_ESCAPE_H_

#include <string>
#include <string_view>

#include "vcard/vcard_version.h"

namespace pelorin {

// A text value, or one component of a structured or list value, as 3.0 and
// 4.0 both write it: \\ \n \, \;
std::string EscapeText(std::string_view text);

// URIs, dates and identifiers: commas and semicolons stay as they are; only
// \\ and \n are escaped, so that reading the value back gives it unchanged.
std::string EscapeKeepingSeparators(std::string_view value);

// A raw value as vCard 2.1 wrote it, in the escapes of 3.0 and 4.0: in 2.1 a
// backslash escapes only ";" (and "\n" is the line break the reader stores),
// every other backslash and every comma is text, which 3.0 and 4.0 escape.
std::string Reescape21Value(std::string_view raw);

// A PROP value holds its escapes as written: only a real line break becomes \n.
std::string EscapeLineBreaks(std::string_view value);

// One parameter value: in double quotes when it holds ":", ";" or ",". 4.0
// writes '"', "^" and line breaks as ^' ^^ ^n (RFC 6868); 3.0 has no way to
// write a '"' inside a parameter value, so it is dropped, and a line break
// becomes a blank.
std::string ParamValue(std::string_view value, TvCardVersion version);

}  // namespace pelorin

#endif  // PELORIN_VCARD_VCARD_ESCAPE_H_
