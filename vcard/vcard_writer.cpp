#include "vcard/vcard_writer.h"

#include <optional>
#include <string_view>

#include "vcard/content_line.h"
#include "vcard/generic_property.h"
#include "vcard/mapped_property.h"
#include "vcard/vcard_escape.h"

namespace pelorin {
namespace {

bool IsStoreElement(std::string_view name) {
  // RESOURCE: the name a CardDAV client gave the card.
  return name == "OWNER" || name == "ID" || name == "VERSION" || name == "RESOURCE";
}

void AppendSimple(std::string& out, std::string_view name, std::string value,
                  TvCardVersion version) {
  TContentLine line;
  line.Name = name;
  line.Value = std::move(value);
  AppendContentLine(out, line, version);
}

// A card read from vCard 2.1 keeps its VERSION, and its raw values have 2.1
// escapes. (A record without one was made here or posted: its values are
// taken as they stand.)
bool ReadAs21(const TRecordElement& card) { return ChildText(card, "VERSION").starts_with('2'); }

}  // namespace

std::string WriteVCard(const TRecordElement& card, TvCardVersion version,
                       const TWriteDefaults& defaults) {
  std::string out = "BEGIN:VCARD\r\n";
  out += version == TvCardVersion::k30 ? "VERSION:3.0\r\n" : "VERSION:4.0\r\n";
  if (FindChild(card, "FN") == nullptr) {
    AppendSimple(out, "FN", EscapeText(FallbackFormattedName(card)), version);
  }
  if (version == TvCardVersion::k30 && FindChild(card, "N") == nullptr) {
    AppendSimple(out, "N", ";;;;", version);
  }
  const bool from_21 = ReadAs21(card);
  const std::vector<TRecordElement>& elements = card.Children;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    const TRecordElement& element = elements[i];
    std::optional<TContentLine> line;
    if (element.Name == "PARAMS" || IsStoreElement(element.Name)) {
      continue;
    } else if (IsMappedElement(element.Name)) {
      const bool has_params = i + 1 < elements.size() && elements[i + 1].Name == "PARAMS";
      line = MappedContentLine(element, has_params ? &elements[i + 1] : nullptr, version);
      if (has_params) ++i;
    } else if (element.Name == "PROP") {
      line = PropContentLine(element, from_21);
    } else {
      line = CustomContentLine(element);
    }
    if (line) AppendContentLine(out, *line, version);
  }
  if (FindChild(card, "UID") == nullptr && !defaults.Uid.empty()) {
    AppendSimple(out, "UID", EscapeKeepingSeparators(defaults.Uid), version);
  }
  if (FindChild(card, "REV") == nullptr && !defaults.Rev.empty()) {
    AppendSimple(out, "REV", EscapeKeepingSeparators(defaults.Rev), version);
  }
  out += "END:VCARD\r\n";
  return out;
}

}  // namespace pelorin
