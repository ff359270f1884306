#include "vcard/vcard_record_builder.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "vcard/vcard_mapping.h"

namespace pelorin {
namespace {

constexpr int kNickname = 2, kPhoto = 3, kGeo = 11, kLogo = 14, kAgent = 15, kSound = 22, kClass = 26,
              kKey = 27;

bool IsBinaryProperty(int index) { return index == kPhoto || index == kLogo || index == kSound || index == kKey; }

void AppendTextElement(std::string& out, std::string_view tag, std::string_view text) {
  out += '<';
  out += tag;
  out += '>';
  AppendEscapedXml(out, text);
  out += "</";
  out += tag;
  out += '>';
}

void AppendParam(std::string& out, const TParameter& param) {
  out += "<PARAM>";
  AppendTextElement(out, "NAME", param.Name);
  for (const std::string& value : param.Values) AppendTextElement(out, "VALUE", value);
  out += "</PARAM>";
}

// PARAMS after a mapped element, when there is anything for it to hold.
void AppendParams(std::string& out, const std::string& group, const std::vector<TParameter>& kept) {
  if (group.empty() && kept.empty()) return;
  out += "<PARAMS>";
  if (!group.empty()) AppendTextElement(out, "GROUP", group);
  for (const TParameter& param : kept) AppendParam(out, param);
  out += "</PARAMS>";
}

// The value of a generic property as the record keeps it: escapes in, and a
// real line break (quoted-printable =0D=0A) written as the escape 3.0 uses.
std::string GenericValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\r' || value[i] == '\n') {
      if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
      out += "\\n";
    } else {
      out += value[i];
    }
  }
  return out;
}

std::string WithoutWhiteSpace(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > 32) out += c;
  }
  return out;
}

// An encoding word among other TYPE words. QUOTED-PRINTABLE made the value
// quoted-printable as a bare one does; the others say nothing in a list, and
// written alone they would change how the value is read. Each is spent like
// the bare word (which IsEncodingParameter takes). The TYPE list without them;
// nullopt when nothing is left.
std::optional<TParameter> WithoutSpentWords(const TParameter& param) {
  if (param.Name != "TYPE" || param.Values.size() < 2 ||
      std::none_of(param.Values.begin(), param.Values.end(), IsEncodingWord)) {
    return param;
  }
  TParameter rest{param.Name, {}};
  for (const std::string& value : param.Values) {
    if (!IsEncodingWord(value)) rest.Values.push_back(value);
  }
  if (rest.Values.empty()) return std::nullopt;
  return rest;
}

void AppendGeneric(std::string& out, const TPropertyLine& line, std::string_view value) {
  const bool base64 = IsBase64Property(line);
  out += "<PROP>";
  AppendTextElement(out, "NAME", line.Name);
  if (!line.Group.empty()) AppendTextElement(out, "GROUP", line.Group);
  for (const TParameter& param : line.Params) {
    // The encoding of binary data is part of its meaning; a character set or
    // quoted-printable was spent on decoding.
    if (IsEncodingParameter(param) && !(base64 && IsBase64Parameter(param))) continue;
    if (const std::optional<TParameter> kept = WithoutSpentWords(param)) AppendParam(out, *kept);
  }
  AppendTextElement(out, "VALUE", base64 ? WithoutWhiteSpace(value) : GenericValue(value));
  out += "</PROP>";
}

// Splits the parameters of a mapped property into its marker words and what
// PARAMS must keep. Marker words are the TYPE values that are element names
// (upper-cased) and PREF; PREF=n keeps its number besides the marker.
void SortParameters(const TPropertyLine& line, int index, std::vector<std::string>& words,
                    std::vector<TParameter>& kept) {
  const bool takes_markers = PropertyTakesMarkers(index);
  for (const TParameter& param : line.Params) {
    if (IsEncodingParameter(param)) continue;
    if (!takes_markers) {
      if (std::optional<TParameter> rest = WithoutSpentWords(param)) kept.push_back(std::move(*rest));
      continue;
    }
    if (param.Name == "TYPE") {
      TParameter rest{param.Name, {}};
      for (const std::string& value : param.Values) {
        if (IsEncodingWord(value)) continue;
        std::string upper = UpperAscii(value);
        if (IsXmlName(upper) && !IsPartOfProperty(index, upper)) {
          words.push_back(std::move(upper));
        } else {
          rest.Values.push_back(value);
        }
      }
      if (!rest.Values.empty()) kept.push_back(std::move(rest));
    } else if (param.Name == "PREF") {
      words.emplace_back("PREF");
      if (!param.Values.empty()) kept.push_back(param);
    } else {
      kept.push_back(param);
    }
  }
}

// Letters, digits and the few marks media types and type words use; anything
// else is no type to take a photo's kind from (and is kept as a parameter).
bool IsMediaToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
           c == '+' || c == '.' || c == '_';
  });
}

// "JPEG", "image/jpeg" or "image/JPEG": the media type of a binary property.
std::string MediaType(int index, std::string_view written) {
  std::string type = LowerAscii(Trim(written));
  if (type.empty() || type.find('/') != std::string::npos) return type;
  if (index == kSound) return "audio/" + type;
  if (index == kKey) {
    if (type == "pgp") return "application/pgp-keys";
    if (type == "x509") return "application/pkix-cert";
    return "application/" + type;
  }
  return "image/" + std::string(type == "jpg" ? "jpeg" : type);
}

// PHOTO, LOGO, SOUND and KEY: base64 data with its media type, a data: URI of
// base64, or a reference. False when the value is neither (a 3.0 KEY written as
// text): then it is kept as a generic property.
// A reference as 3.0 and 4.0 write one: only "\\" and a line break are escaped
// (its commas and semicolons are the URI's own).
std::string UnescapedReference(std::string_view text, const TCardVersion& version) {
  if (version.Escapes != TEscapes::kBackslash) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char next = text[i + 1];
      if (next == '\\' || next == 'n' || next == 'N') {
        out += next == '\\' ? '\\' : '\n';
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

bool AppendBinary(std::string& out, int index, const TPropertyLine& line, std::string_view value,
                  const TCardVersion& version) {
  const std::string_view tag = PropertyNames[index];
  std::string media_type;
  std::vector<TParameter> kept;
  bool uri_value = false;
  const TParameter* media_param = nullptr;  // the parameter the type came from
  std::size_t media_param_at = 0;           // where it stood among the kept ones
  for (const TParameter& param : line.Params) {
    if (IsEncodingParameter(param)) continue;
    if ((param.Name == "TYPE" || param.Name == "MEDIATYPE") && media_type.empty() && param.Values.size() == 1 &&
        IsMediaToken(param.Values.front())) {
      media_type = param.Values.front();
      media_param = &param;
      media_param_at = kept.size();
      continue;
    }
    if (param.Name == "VALUE" && param.Values.size() == 1) {
      const std::string kind = LowerAscii(param.Values.front());
      if (kind == "uri" || kind == "url" || kind == "binary") {
        uri_value = kind != "binary";
        continue;
      }
    }
    if (std::optional<TParameter> rest = WithoutSpentWords(param)) kept.push_back(std::move(*rest));
  }
  std::string data;
  std::string reference;
  const std::string_view trimmed = Trim(value);
  if (IsBase64Property(line)) {
    data = WithoutWhiteSpace(value);
  } else if (StartsWithNoCase(trimmed, "DATA:")) {
    // data:[<media type>][;base64],<data>
    const std::size_t comma = trimmed.find(',');
    const std::string_view head = trimmed.substr(5, comma == std::string_view::npos ? 0 : comma - 5);
    if (comma != std::string_view::npos && head.size() >= 7 && EqualsNoCase(head.substr(head.size() - 7), ";BASE64")) {
      const std::string_view written = head.substr(0, head.size() - 7);
      if (!written.empty() && IsMediaToken(written)) {
        // The URI names the type; a TYPE parameter beside it says something else.
        if (media_param != nullptr) {
          kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(media_param_at), *media_param);
        }
        media_type = std::string(written);
      } else if (!written.empty()) {
        return false;  // a data: URI of an odd type stays whole
      }
      data = WithoutWhiteSpace(trimmed.substr(comma + 1));
    } else {
      reference = UnescapedReference(trimmed, version);
    }
  } else if (index != kKey || uri_value || trimmed.find("://") != std::string_view::npos) {
    // A picture or sound that is no data is a reference, whatever its form; a
    // key may be text of its own (3.0), kept whole unless it is a URI.
    reference = UnescapedReference(trimmed, version);
  } else {
    return false;
  }
  // Data that is no base64 (a broken card) is kept whole, as written.
  const bool base64_text = std::all_of(data.begin(), data.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=' || c == '-' || c == '_';
  });
  if (reference.empty() && !base64_text) return false;
  out += '<';
  out += tag;
  out += '>';
  // The type of a reference is kept as well: it says what the link points to.
  const std::string type = MediaType(index, media_type);
  if (!type.empty()) AppendTextElement(out, "TYPE", type);
  if (!reference.empty()) {
    AppendTextElement(out, "EXTVAL", reference);
  } else {
    AppendTextElement(out, "BINVAL", data);
  }
  out += "</";
  out += tag;
  out += '>';
  AppendParams(out, line.Group, kept);
  return true;
}

bool IsCoordinate(std::string_view text) {
  text = Trim(text);
  return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-'; });
}

// GEO as LAT and LON joined by ";": "lat;lon" (3.0), "lat,lon" (older writers)
// or "geo:lat,lon" (4.0), two numbers (or nothing). Anything else, such as a
// geo URI with an uncertainty, is kept whole as a generic property.
bool GeoParts(std::string_view value, TEscapes escapes, std::string& parts) {
  std::string_view text = Trim(value);
  const bool uri = StartsWithNoCase(text, "GEO:");
  if (uri) text.remove_prefix(4);
  std::string_view rest = text;
  FetchToken(rest, ';', escapes);
  const std::size_t comma = text.find(',');
  const bool one_comma = comma != std::string_view::npos && text.find_first_of(";,", comma + 1) == std::string_view::npos;
  if (one_comma && text.find(';') == std::string_view::npos) {
    parts = std::string(text.substr(0, comma)) + ";" + std::string(text.substr(comma + 1));
  } else if (!uri && rest.find(';') == std::string_view::npos) {
    parts = std::string(text);
  } else {
    return false;
  }
  const std::size_t semicolon = parts.find(';');
  return IsCoordinate(std::string_view(parts).substr(0, semicolon)) &&
         (semicolon == std::string::npos || IsCoordinate(std::string_view(parts).substr(semicolon + 1)));
}

}  // namespace

bool IsEncodingParameter(const TParameter& param) {
  if (param.Name == "CHARSET" || param.Name == "ENCODING") return true;
  // A bare "B" is how some 2.1 writers say BASE64.
  return param.Name == "TYPE" && param.Values.size() == 1 && IsEncodingWord(param.Values.front());
}

bool IsBase64Parameter(const TParameter& param) {
  if (param.Values.size() != 1) return false;
  const std::string word = UpperAscii(param.Values.front());
  return (param.Name == "ENCODING" || param.Name == "TYPE") && (word == "B" || word == "BASE64");
}

bool IsBase64Property(const TPropertyLine& line) {
  return std::any_of(line.Params.begin(), line.Params.end(), IsBase64Parameter);
}

void AppendPropertyRecord(std::string& out, const TPropertyLine& line, std::string_view value,
                          const TCardVersion& version) {
  // A line whose name is no vCard name (a comment, a name with blanks) is no
  // property, and no writer could give it back; BEGIN and END are framing.
  if (!IsPropertyName(line.Name) || EqualsNoCase(line.Name, "BEGIN") || EqualsNoCase(line.Name, "END")) return;
  const int index = IndexOfName(UpperAscii(line.Name), PropertyNames);
  // VERSION is framing whatever its parameters say: every export writes its own.
  const bool base64_text =
      index != kKey && index != kPropertyVersion && IsBase64Property(line) && !IsBinaryProperty(index);
  if (index < 0 || index == kAgent || base64_text) {
    return AppendGeneric(out, line, value);
  }
  if (IsBinaryProperty(index)) {
    if (!AppendBinary(out, index, line, value, version)) AppendGeneric(out, line, value);
    return;
  }
  std::vector<std::string> words;
  std::vector<TParameter> kept;
  SortParameters(line, index, words, kept);
  if (index == kClass && !Trim(value).empty() && !IsXmlName(Trim(value))) return AppendGeneric(out, line, value);
  if (index == kNickname) {
    // One element per name; each carries the property's parameters.
    for (const std::string_view name : SplitList(value, version.Escapes)) {
      AppendProperty(out, index, words, name, version.Escapes, !version.Version4);
      AppendParams(out, line.Group, kept);
    }
    return;
  }
  if (index == kGeo) {
    std::string parts;
    if (!GeoParts(value, version.Escapes, parts)) return AppendGeneric(out, line, value);
    AppendProperty(out, index, words, parts, version.Escapes, !version.Version4);
    AppendParams(out, line.Group, kept);
    return;
  }
  AppendProperty(out, index, words, value, version.Escapes, !version.Version4);
  // VERSION says how the card was written; every export writes its own, so
  // a group or parameters of it would have nowhere to go.
  if (index != kPropertyVersion) AppendParams(out, line.Group, kept);
}

}  // namespace pelorin
