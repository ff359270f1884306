#include "vcard/content_line.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "vcard/line_folding.h"
#include "vcard/utf8_repair.h"
#include "vcard/vcard_escape.h"
#include "vcard/vcard_text.h"

namespace pelorin {

bool IsWritableName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return c > ' ' && c < 0x7F && c != ';' && c != ':' && c != ',' && c != '.' && c != '=' &&
           c != '"';
  });
}

bool AppendContentLine(std::string& out, const TContentLine& line, TvCardVersion version) {
  if (!IsWritableName(line.Name)) return false;
  std::string text;
  if (IsWritableName(line.Group)) {
    text += line.Group;
    text += '.';
  }
  text += line.Name;
  for (const TContentParam& param : line.Params) {
    if (!IsWritableName(param.Name)) continue;
    // Written values are never encoded: a QUOTED-PRINTABLE here would have the
    // reader decode the value once more.
    const bool encoding = EqualsNoCase(param.Name, "TYPE") || EqualsNoCase(param.Name, "ENCODING");
    std::vector<std::string_view> values;
    for (const std::string& value : param.Values) {
      if (!encoding || !IsQuotedPrintableWord(value)) values.push_back(value);
    }
    if (values.empty() && !param.Values.empty()) continue;
    text += ';';
    text += param.Name;
    text += '=';
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) text += ',';
      text += ParamValue(values[i], version);
    }
  }
  text += ':';
  text += line.Value;
  AppendFoldedLine(out, ReplaceInvalidUtf8(text));
  return true;
}

}  // namespace pelorin
