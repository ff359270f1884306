#include "xml/xml_escape.h"

#include <cstdint>

namespace pelorin {
namespace {

// Decodes one UTF-8 sequence starting at text[i] and advances i past it.
// libxml2 hands out valid UTF-8 only; a stray byte is returned as itself so
// nothing is lost even then.
uint32_t NextCodePoint(std::string_view text, size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  size_t extra = 0;
  uint32_t code = lead;
  if (lead >= 0xC0 && lead < 0xE0) {
    extra = 1;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    extra = 2;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead < 0xF8) {
    extra = 3;
    code = lead & 0x07;
  }
  if (extra == 0 || i + extra >= text.size()) {
    ++i;
    return lead;
  }
  for (size_t k = 1; k <= extra; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return lead;
    }
    code = (code << 6) | (next & 0x3F);
  }
  i += extra + 1;
  return code;
}

void AppendReference(std::string& out, uint32_t code) {
  char buffer[16];
  char* end = buffer + sizeof buffer;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + code % 10);
    code /= 10;
  } while (code != 0);
  out += "&#";
  out.append(p, end);
  out += ';';
}

template <bool kAttribute>
void AppendEscaped(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size());
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      AppendReference(out, NextCodePoint(text, i));
      continue;
    }
    ++i;
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>':
        if (!kAttribute && i >= 3 && text[i - 2] == ']' && text[i - 3] == ']') {
          out += "&gt;";
        } else {
          out += '>';
        }
        break;
      case '\n':
        out += kAttribute ? "&#xA;" : "\r\n";
        break;
      case '"':
        if (kAttribute) {
          out += "&#34;";
        } else {
          out += '"';
        }
        break;
      // An attribute's tab would come back as a blank (attribute-value normalisation).
      case '\t': out += kAttribute ? "&#9;" : "\t"; break;
      default:
        if (c >= 0x20 && c <= 0x7E) {
          out += c;
        } else {
          AppendReference(out, static_cast<unsigned char>(c));
        }
    }
  }
}

}  // namespace

void AppendEscapedText(std::string& out, std::string_view utf8) { AppendEscaped<false>(out, utf8); }

void AppendEscapedAttribute(std::string& out, std::string_view utf8) {
  AppendEscaped<true>(out, utf8);
}

}  // namespace pelorin
