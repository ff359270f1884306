#include "vcard/binary_property.h"

#include "vcard/vcard_escape.h"
#include "vcard/vcard_text.h"

namespace pelorin {
namespace {

// Base64 never holds white space; a record written by hand may wrap it.
std::string WithoutBlanks(std::string_view base64) {
  std::string out;
  out.reserve(base64.size());
  for (const char c : base64) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') out += c;
  }
  return out;
}

}  // namespace

bool IsBinaryElement(std::string_view name) {
  return name == "PHOTO" || name == "LOGO" || name == "SOUND" || name == "KEY";
}

std::string TypeWordOfMediaType(std::string_view media_type) {
  const std::string lower = LowerAscii(Trim(media_type));
  if (lower == "application/pgp-keys") return "PGP";
  if (lower == "application/pkix-cert") return "X509";
  for (std::string_view top : {"image/", "audio/"}) {
    if (lower.starts_with(top) && lower.size() > top.size()) return UpperAscii(lower.substr(top.size()));
  }
  return std::string(media_type);
}

std::string MediaTypeOfType(std::string_view property, std::string_view type) {
  const std::string_view trimmed = Trim(type);
  if (trimmed.empty() || trimmed.find('/') != std::string_view::npos) return std::string(trimmed);
  const std::string word = LowerAscii(trimmed);
  if (property == "KEY") {
    if (word == "pgp") return "application/pgp-keys";
    if (word == "x509") return "application/pkix-cert";
    return "application/" + word;
  }
  return (property == "SOUND" ? "audio/" : "image/") + word;
}

std::optional<TContentLine> BinaryContentLine(const TRecordElement& element,
                                              TvCardVersion version) {
  const TRecordElement* binval = FindChild(element, "BINVAL");
  const TRecordElement* extval = FindChild(element, "EXTVAL");
  if (binval == nullptr && extval == nullptr) return std::nullopt;
  const std::string_view type = ChildText(element, "TYPE");
  TContentLine line;
  line.Name = element.Name;
  if (binval != nullptr) {
    const std::string data = WithoutBlanks(binval->Text);
    if (version == TvCardVersion::k30) {
      line.Params.push_back({"ENCODING", {"b"}});
      if (!type.empty()) line.Params.push_back({"TYPE", {TypeWordOfMediaType(type)}});
      line.Value = EscapeKeepingSeparators(data);
    } else {
      line.Value = "data:" + EscapeKeepingSeparators(MediaTypeOfType(element.Name, type)) +
                   ";base64," + EscapeKeepingSeparators(data);
    }
    return line;
  }
  if (version == TvCardVersion::k30) {
    if (element.Name != "KEY") line.Params.push_back({"VALUE", {"uri"}});
    if (!type.empty()) line.Params.push_back({"TYPE", {TypeWordOfMediaType(type)}});
  } else if (!type.empty()) {
    line.Params.push_back({"MEDIATYPE", {MediaTypeOfType(element.Name, type)}});
  }
  line.Value = EscapeKeepingSeparators(extval->Text);
  return line;
}

}  // namespace pelorin
