#include "vcard/vcard2xml.h"

#include <string_view>

#include "vcard/quoted_printable.h"
#include "vcard/vcard_mapping.h"
#include "vcard/vcard_property.h"
#include "vcard/vcard_text.h"

namespace pelorin {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool IsCardStart(std::string_view line) {
  if (line.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) {
    line.remove_prefix(kUtf8ByteOrderMark.size());
  }
  return EqualsNoCase(Trim(line), "BEGIN:VCARD");
}

bool IsCardEnd(std::string_view line) { return EqualsNoCase(Trim(line), "END:VCARD"); }

// Appends the next card's lines to `card_lines`; `next_line` hands out the
// lines of the text one by one. False when no card start is left, in which
// case every line has been taken.
template <typename NextLine>
bool CutCard(NextLine next_line, std::vector<std::string>& card_lines) {
  std::string_view line;
  do {
    if (!next_line(line)) return false;
  } while (!IsCardStart(line));
  card_lines.emplace_back(line);
  while (next_line(line)) {
    if (line.empty()) continue;
    card_lines.emplace_back(line);
    if (IsCardEnd(line)) break;
  }
  return true;
}

bool IsFolded(std::string_view line) {
  return !line.empty() && (line.front() == ' ' || line.front() == '\t');
}

bool HasColon(std::string_view line) { return line.find(':') != std::string_view::npos; }

// vCard 3.0 and 4.0 escape their values and fold by RFC 6350; the VERSION
// line may stand anywhere in the card.
TEscapes EscapesOfCard(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const THeaderSplit split = SplitHeader(line);
    if (!split.has_colon || !EqualsNoCase(PropertyNameOf(split.header), "VERSION")) continue;
    const std::string_view version = Trim(split.value);
    const bool modern = version == "3.0" || version == "4.0" || version == "3" || version == "4";
    return modern ? TEscapes::kBackslash : TEscapes::kNone;
  }
  return TEscapes::kNone;
}

}  // namespace

TvCard2XML::TvCard2XML() = default;
TvCard2XML::~TvCard2XML() = default;

std::string TvCard2XML::ConvertNextCard(std::vector<std::string>& lines) {
  CardLines.clear();
  std::size_t taken = 0;
  const bool found = CutCard(
      [&](std::string_view& line) {
        if (taken >= lines.size()) return false;
        line = lines[taken++];
        return true;
      },
      CardLines);
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(taken));
  return found ? ConvertCard() : std::string();
}

std::string TvCard2XML::ConvertNextCard(TLineCursor& cursor) {
  CardLines.clear();
  const bool found =
      CutCard([&](std::string_view& line) { return cursor.NextLine(line); }, CardLines);
  return found ? ConvertCard() : std::string();
}

std::string TvCard2XML::ConvertCard() {
  const TEscapes escapes = EscapesOfCard(CardLines);
  const std::size_t count = CardLines.size();
  std::string out = "<vCard>";
  std::string unfolded;  // a line with its continuation lines, when it has any
  std::string value;
  std::size_t i = 0;
  while (i < count) {
    std::string_view line = CardLines[i++];
    if (escapes == TEscapes::kBackslash && i < count && IsFolded(CardLines[i])) {
      unfolded.assign(line);
      // RFC 6350: one blank or tab of a continuation line belongs to the fold.
      while (i < count && IsFolded(CardLines[i])) unfolded.append(CardLines[i++], 1);
      line = unfolded;
    }
    const THeaderSplit split = SplitHeader(line);
    const TPropertyHeader header = ParseHeader(split.header);
    if (split.has_colon && ContainsNoCase(split.header, "QUOTED-PRINTABLE")) {
      // The value goes on over the next lines up to one that holds a ":".
      std::string joined(split.value);
      while (i < count && !HasColon(CardLines[i])) {
        joined += "\r\n";
        joined += TrimLeft(CardLines[i++]);
      }
      value = DecodeQuotedPrintable(joined);
    } else {
      value.assign(split.value);
    }
    if (header.base64) {
      // Encoded data and its lines (folded, or in 2.1 plain lines up to the
      // empty line that ends them) never reach the record.
      while (i < count && (IsFolded(CardLines[i]) || !HasColon(CardLines[i]))) ++i;
      continue;
    }
    const int index = IndexOfName(header.name, PropertyNames);
    if (!PropertyHasOutput(index)) continue;
    while (i < count && IsFolded(CardLines[i])) {
      const std::string_view next = CardLines[i++];
      if (escapes == TEscapes::kBackslash) {
        value.append(next.substr(1));
      } else {
        value.append(Trim(next));
      }
    }
    if (StartsWithNoCase(TrimLeft(value), "DATA:")) continue;
    AppendProperty(out, index, header.words, charsets_.Convert(value, header.charset), escapes);
  }
  out += "</vCard>";
  return out;
}

}  // namespace pelorin
