#include "vcard/generic_property.h"

#include "vcard/record_params.h"
#include "vcard/vcard_escape.h"
#include "vcard/vcard_text.h"

namespace pelorin {

std::optional<TContentLine> PropContentLine(const TRecordElement& prop, bool from_21) {
  TContentLine line;
  line.Name = ChildText(prop, "NAME");
  for (std::string_view framing : {"BEGIN", "END", "VERSION"}) {
    if (EqualsNoCase(Trim(line.Name), framing)) return std::nullopt;
  }
  line.Group = ChildText(prop, "GROUP");
  for (const TRecordElement& child : prop.Children) {
    if (child.Name == "PARAM") line.Params.push_back(ParamOfElement(child));
  }
  const std::string_view value = ChildText(prop, "VALUE");
  line.Value = from_21 ? EscapeLineBreaks(Reescape21Value(value)) : EscapeLineBreaks(value);
  return line;
}

std::optional<TContentLine> CustomContentLine(const TRecordElement& element) {
  if (!element.Children.empty() || element.Text.empty()) return std::nullopt;
  TContentLine line;
  line.Name = "X-PELORIN-";
  for (const char c : element.Name) {
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    line.Name += kept ? c : '-';
  }
  line.Value = EscapeText(element.Text);
  return line;
}

}  // namespace pelorin
