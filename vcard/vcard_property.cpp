#include "vcard/vcard_property.h"

#include <algorithm>

#include "vcard/vcard_text.h"

namespace pelorin {
namespace {

bool IsGroupChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// Position of the next `separator` at or after `from` outside double quotes,
// or npos.
std::size_t FindUnquoted(std::string_view text, char separator, std::size_t from) {
  bool quoted = false;
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (text[i] == separator && !quoted) return i;
  }
  return std::string_view::npos;
}

std::string Unquoted(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '"') out += c;
  }
  return std::string(Trim(out));
}

template <typename Each>
void ForEachPiece(std::string_view text, char separator, Each each) {
  while (!text.empty()) {
    const std::size_t cut = std::min(text.find(separator), text.size());
    each(text.substr(0, cut));
    text.remove_prefix(std::min(cut + 1, text.size()));
  }
}

void AddWord(TPropertyHeader& header, std::string_view word) {
  std::string upper = UpperAscii(Unquoted(word));
  if (IsXmlName(upper)) header.words.push_back(std::move(upper));
}

void ReadParameter(TPropertyHeader& header, std::string_view parameter) {
  parameter = Trim(parameter);
  if (parameter.empty()) return;
  const std::size_t equals = parameter.find('=');
  if (equals == std::string_view::npos) {
    ForEachPiece(parameter, ',', [&](std::string_view word) {
      word = Trim(word);
      if (EqualsNoCase(word, "QUOTED-PRINTABLE")) return;
      if (EqualsNoCase(word, "BASE64")) {
        header.base64 = true;
        return;
      }
      AddWord(header, word);
    });
    return;
  }
  const std::string name = UpperAscii(Trim(parameter.substr(0, equals)));
  const std::string_view value = Trim(parameter.substr(equals + 1));
  if (name == "TYPE") {
    ForEachPiece(value, ',', [&](std::string_view word) { AddWord(header, word); });
  } else if (name == "PREF") {
    header.words.emplace_back("PREF");
  } else if (name == "CHARSET") {
    header.charset = Unquoted(value);
  } else if (name == "ENCODING") {
    const std::string encoding = UpperAscii(Unquoted(value));
    if (encoding == "B" || encoding == "BASE64") header.base64 = true;
  }
}

// Splits at `separator` outside double quotes (when the quotes close at all),
// handing out each piece.
template <typename Each>
void ForEachUnquotedPiece(std::string_view text, char separator, bool quotes_close, Each each) {
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(
        quotes_close ? FindUnquoted(text, separator, start) : text.find(separator, start), text.size());
    each(text.substr(start, end - start));
    start = end + 1;
  }
}

// A raw line break only gets into a header through a quoted-printable value's
// continuation lines; no version can write one there (3.0 has no escape for
// it), so it is read as the blank it stands for.
std::string ParameterValue(std::string_view piece, bool caret_escapes) {
  std::string value;
  for (std::size_t i = 0; i < piece.size(); ++i) {
    const char c = piece[i];
    if (c == '"') continue;
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < piece.size() && piece[i + 1] == '\n') ++i;
      value += ' ';
      continue;
    }
    if (caret_escapes && c == '^' && i + 1 < piece.size()) {
      const char next = piece[i + 1];
      if (next == 'n' || next == 'N') {
        value += '\n';
        ++i;
        continue;
      }
      if (next == '^' || next == '\'') {
        value += next == '^' ? '^' : '"';
        ++i;
        continue;
      }
    }
    value += c;
  }
  return std::string(Trim(value));
}

}  // namespace

TPropertyLine ParsePropertyLine(std::string_view header, bool caret_escapes) {
  TPropertyLine line;
  const std::string_view name_part = header.substr(0, std::min(header.find(';'), header.size()));
  const std::string_view name = PropertyNameOf(name_part);
  if (name.size() < name_part.size()) line.Group.assign(name_part.substr(0, name_part.size() - name.size() - 1));
  line.Name.assign(name);
  const std::size_t semicolon = header.find(';');
  if (semicolon == std::string_view::npos) return line;
  const bool quotes_close = std::count(header.begin(), header.end(), '"') % 2 == 0;
  ForEachUnquotedPiece(header.substr(semicolon + 1), ';', quotes_close, [&](std::string_view parameter) {
    parameter = Trim(parameter);
    if (parameter.empty()) return;
    const std::size_t equals = parameter.find('=');
    TParameter param;
    std::string_view values = parameter;
    if (equals == std::string_view::npos) {
      param.Name = "TYPE";
    } else {
      param.Name = UpperAscii(Trim(parameter.substr(0, equals)));
      values = parameter.substr(equals + 1);
      // A name of other characters is no parameter, and no writer could give it back.
      if (!IsVcardName(param.Name)) return;
    }
    // TYPE="work,voice" is a list even in quotes (vCard 4.0); elsewhere a quoted
    // comma is part of the value (LABEL="a, b").
    const bool split_quoted = param.Name == "TYPE";
    ForEachUnquotedPiece(values, ',', quotes_close && !split_quoted, [&](std::string_view piece) {
      std::string value = ParameterValue(piece, caret_escapes);
      if (!value.empty()) param.Values.push_back(std::move(value));
    });
    line.Params.push_back(std::move(param));
  });
  return line;
}

bool IsVcardName(std::string_view name) { return !name.empty() && std::all_of(name.begin(), name.end(), IsGroupChar); }

bool IsPropertyName(std::string_view name) {
  if (IsVcardName(name)) return true;
  const bool extension = name.size() > 2 && (name[0] == 'X' || name[0] == 'x') && name[1] == '-';
  return extension && std::all_of(name.begin(), name.end(), [](char c) { return IsGroupChar(c) || c == '_'; });
}

THeaderSplit SplitHeader(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    const std::size_t semicolon = std::min(line.find(';'), line.size());
    return {line.substr(0, semicolon), line.substr(std::min(semicolon + 1, line.size())), false};
  }
  std::size_t cut = colon;
  const std::size_t semicolon = line.find(';');
  if (semicolon < colon && line.find('"', semicolon) < colon) {
    cut = FindUnquoted(line, ':', semicolon);
    if (cut == std::string_view::npos) cut = colon;
  }
  return {line.substr(0, cut), line.substr(cut + 1), true};
}

std::string_view PropertyNameOf(std::string_view header) {
  std::string_view name = header.substr(0, std::min(header.find(';'), header.size()));
  const std::size_t dot = name.find('.');
  if (dot != std::string_view::npos && dot > 0 &&
      std::all_of(name.begin(), name.begin() + dot, IsGroupChar)) {
    name.remove_prefix(dot + 1);
  }
  return name;
}

TPropertyHeader ParseHeader(std::string_view header) {
  TPropertyHeader result;
  result.name = UpperAscii(PropertyNameOf(header));
  const std::size_t semicolon = header.find(';');
  if (semicolon == std::string_view::npos) return result;
  // An unclosed quote must not swallow the parameters after it: then quotes
  // are ignored altogether (deciding once keeps a hostile header linear).
  const bool quotes_close = std::count(header.begin(), header.end(), '"') % 2 == 0;
  std::size_t start = semicolon + 1;
  while (start <= header.size()) {
    const std::size_t end = std::min(
        quotes_close ? FindUnquoted(header, ';', start) : header.find(';', start), header.size());
    ReadParameter(result, header.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

}  // namespace pelorin
