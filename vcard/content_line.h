// One written property: group, name, parameters and value put together as a
// content line, made valid UTF-8 and folded.
#ifndef PELORIN_VCARD_CONTENT_LINE_H_
#define PELORIN_VCARD_CONTENT_LINE_H_

#include <string>
#include <string_view>
#include <vector>

#include "vcard/vcard_version.h"

namespace pelorin {

struct TContentParam {
  std::string Name;
  std::vector<std::string> Values;  // as they are; quoted and encoded on output
};

struct TContentLine {
  std::string Group;  // empty for none
  std::string Name;
  std::vector<TContentParam> Params;
  std::string Value;  // escaped for its property already
};

// Whether a name can stand as a property, group or parameter name and be read
// back as one: printable ASCII other than the separators ; : , . = and '"'.
bool IsWritableName(std::string_view name);

// Appends [group "."] name {";" NAME "=" value *("," value)} ":" value, with
// every byte of bad UTF-8 replaced, folded at 75 octets and ended by CR LF.
// A group or parameter whose name cannot be written is left out; a property
// whose name cannot be written is not written at all (false).
bool AppendContentLine(std::string& out, const TContentLine& line, TvCardVersion version);

}  // namespace pelorin

#endif  // PELORIN_VCARD_CONTENT_LINE_H_
