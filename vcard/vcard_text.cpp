#include "vcard/vcard_text.h"

#include <algorithm>

namespace pelorin {
namespace {

char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

// The character a backslash escape stands for, or 0 when the pair is no
// escape (and so stays as written, as a Windows path in a note must).
char Unescaped(char c, TEscapes escapes) {
  if (escapes == TEscapes::kSemicolon) return c == ';' ? c : 0;
  switch (c) {
    case ',':
    case ';':
    case '\\':
    case ':':
    case '"':
      return c;
    case 'n':
    case 'N':
      return '\n';
    default:
      return 0;
  }
}

void AppendEscapedChar(std::string& out, char c) {
  switch (c) {
    case '&': out += "&amp;"; break;
    case '<': out += "&lt;"; break;
    case '>': out += "&gt;"; break;
    case '"': out += "&quot;"; break;
    case '\'': out += "&apos;"; break;
    default: out += c;
  }
}

}  // namespace

std::string EscapeXml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEscapedXml(out, text);
  return out;
}

void AppendEscapedXml(std::string& out, std::string_view text) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '&' && c != '<' && c != '>' && c != '"' && c != '\'') continue;
    out.append(text.substr(start, i - start));
    AppendEscapedChar(out, c);
    start = i + 1;
  }
  out.append(text.substr(start));
}

void AppendText(std::string& out, std::string_view text, TEscapes escapes) {
  if (escapes == TEscapes::kNone || text.find('\\') == std::string_view::npos) {
    AppendEscapedXml(out, text);
    return;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' && i + 1 < text.size() && Unescaped(text[i + 1], escapes) != 0) c = Unescaped(text[++i], escapes);
    AppendEscapedChar(out, c);
  }
}

std::string_view FetchToken(std::string_view& text, char separator, TEscapes escapes) {
  std::size_t end = 0;
  if (escapes == TEscapes::kNone) {
    end = std::min(text.find(separator), text.size());
  } else {
    while (end < text.size() && text[end] != separator) {
      const bool escape = text[end] == '\\' && end + 1 < text.size() && Unescaped(text[end + 1], escapes) != 0;
      end += escape ? 2 : 1;
    }
    end = std::min(end, text.size());
  }
  const std::string_view token = text.substr(0, end);
  text.remove_prefix(std::min(end + 1, text.size()));
  return token;
}

std::vector<std::string_view> SplitList(std::string_view text, TEscapes escapes) {
  std::vector<std::string_view> pieces;
  while (!text.empty()) {
    const std::string_view piece = FetchToken(text, ',', escapes);
    if (!piece.empty()) pieces.push_back(piece);
  }
  return pieces;
}

TWordsAndValue SplitWords(std::string_view property_text) {
  TWordsAndValue result;
  const std::size_t colon = property_text.find(':');
  if (colon == std::string_view::npos) {
    result.value = property_text;
    return result;
  }
  result.value = property_text.substr(colon + 1);
  std::string_view params = property_text.substr(0, colon);
  while (!params.empty()) {
    const std::size_t cut = std::min(params.find_first_of(";,"), params.size());
    if (cut > 0) result.words.push_back(UpperAscii(params.substr(0, cut)));
    params.remove_prefix(std::min(cut + 1, params.size()));
  }
  return result;
}

bool IsXmlName(std::string_view word) {
  if (word.empty() || !IsNameStart(word.front())) return false;
  return std::all_of(word.begin(), word.end(), IsNameChar);
}

bool IsQuotedPrintableWord(std::string_view word) { return EqualsNoCase(word, "QUOTED-PRINTABLE"); }

bool IsEncodingWord(std::string_view word) {
  return IsQuotedPrintableWord(word) || EqualsNoCase(word, "BASE64") || EqualsNoCase(word, "B") ||
         EqualsNoCase(word, "8BIT") || EqualsNoCase(word, "7BIT");
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return TrimLeft(text);
}

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  return text;
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperChar(c);
  return out;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsNoCase(std::string_view text, std::string_view upper) {
  return text.size() == upper.size() && StartsWithNoCase(text, upper);
}

bool StartsWithNoCase(std::string_view text, std::string_view upper) {
  if (text.size() < upper.size()) return false;
  for (std::size_t i = 0; i < upper.size(); ++i) {
    if (UpperChar(text[i]) != upper[i]) return false;
  }
  return true;
}

bool ContainsNoCase(std::string_view text, std::string_view upper) {
  if (upper.empty()) return true;
  for (std::size_t i = 0; i + upper.size() <= text.size(); ++i) {
    if (UpperChar(text[i]) == upper[0] && StartsWithNoCase(text.substr(i), upper)) return true;
  }
  return false;
}

}  // namespace pelorin
