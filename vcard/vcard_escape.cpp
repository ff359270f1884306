#include "vcard/vcard_escape.h"

#include <cstddef>

namespace pelorin {
namespace {

bool IsDroppedControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  // DEL is kept: the reader keeps it in a record, and dropping it here would
  // make the card read back different.
  return byte < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// Calls on_break once per line break and on_char for every other byte kept.
template <typename OnBreak, typename OnChar>
void Walk(std::string_view text, OnBreak on_break, OnChar on_char) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      on_break();
    } else if (!IsDroppedControl(c)) {
      on_char(c);
    }
  }
}

// Whether a byte needs anything from Escape: a backslash, a separator, a line
// break or a control byte that is dropped.
bool NeedsEscape(char c, bool separators) {
  const auto byte = static_cast<unsigned char>(c);
  return c == '\\' || byte < 0x20 || (separators && (c == ';' || c == ','));
}

std::string Escape(std::string_view text, bool separators) {
  // Most values are plain: one scan, one copy.
  bool plain = true;
  for (const char c : text) {
    if (NeedsEscape(c, separators) && c != '\t') {
      plain = false;
      break;
    }
  }
  if (plain) return std::string(text);
  std::string out;
  out.reserve(text.size());
  Walk(
      text, [&] { out += "\\n"; },
      [&](char c) {
        if (c == '\\' || (separators && (c == ',' || c == ';'))) out += '\\';
        out += c;
      });
  return out;
}

}  // namespace

std::string EscapeText(std::string_view text) { return Escape(text, true); }

std::string EscapeKeepingSeparators(std::string_view value) { return Escape(value, false); }

std::string Reescape21Value(std::string_view raw) {
  std::string out;
  out.reserve(raw.size() + 8);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    const char next = i + 1 < raw.size() ? raw[i + 1] : '\0';
    if (c == '\\' && (next == ';' || next == 'n' || next == 'N')) {
      out += c;
      out += next;
      ++i;
    } else if (c == '\\' || c == ',') {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  return out;
}

std::string EscapeLineBreaks(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  Walk(value, [&] { out += "\\n"; }, [&](char c) { out += c; });
  return out;
}

std::string ParamValue(std::string_view value, TvCardVersion version) {
  std::string out;
  out.reserve(value.size() + 2);
  bool quote = false;
  if (version == TvCardVersion::k40) {
    Walk(
        value, [&] { out += "^n"; },
        [&](char c) {
          if (c == '"') {
            out += "^'";
          } else if (c == '^') {
            out += "^^";
          } else {
            quote |= c == ':' || c == ';' || c == ',';
            out += c;
          }
        });
  } else {
    Walk(
        value, [&] { out += ' '; },
        [&](char c) {
          if (c == '"') return;  // 3.0 cannot hold it, quoted or not
          quote |= c == ':' || c == ';' || c == ',';
          out += c;
        });
  }
  return quote ? '"' + out + '"' : out;
}

}  // namespace pelorin
