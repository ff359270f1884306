#include "vcard/vcard2xml.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <string_view>
#include <utility>

#include "vcard/quoted_printable.h"
#include "vcard/vcard_mapping.h"
#include "vcard/vcard_property.h"
#include "vcard/vcard_record_builder.h"
#include "vcard/vcard_text.h"
#include "vcard/utf8_repair.h"

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

bool IsFolded(std::string_view line) {
  return !line.empty() && (line.front() == ' ' || line.front() == '\t');
}

// Appends the next card's lines to `card_lines`; `next_line` hands out the
// lines of the text one by one. A card ends at its own END:VCARD: a card
// nested in it (a 2.1 AGENT's, or a writer's embedded card) is somebody
// else's, so its lines go to `nested`, one entry per card, and the outer
// card's lines after it stay its own. A folded line continues a value, so it
// never starts or ends a card, whatever it holds ("...ABEB\r\n BEGIN:VCARD"
// is the middle of a long value). False when no card start is left, in which
// case every line has been taken.
template <typename NextLine>
bool CutCard(NextLine next_line, std::vector<std::string>& card_lines,
             std::deque<std::vector<std::string>>& nested) {
  std::string_view line;
  do {
    if (!next_line(line)) return false;
  } while (!IsCardStart(line));
  card_lines.emplace_back(line);
  std::vector<std::vector<std::string>> open;  // nested cards not yet ended, innermost last
  while (next_line(line)) {
    if (line.empty()) continue;
    if (IsCardStart(line) && !IsFolded(line)) {
      open.emplace_back().emplace_back(line);
      continue;
    }
    std::vector<std::string>& lines = open.empty() ? card_lines : open.back();
    lines.emplace_back(line);
    if (!IsCardEnd(line) || IsFolded(line)) continue;
    if (open.empty()) break;
    nested.push_back(std::move(open.back()));
    open.pop_back();
  }
  for (std::vector<std::string>& unended : open) nested.push_back(std::move(unended));
  return true;
}

bool HasColon(std::string_view line) { return line.find(':') != std::string_view::npos; }

// vCard 3.0 and 4.0 escape their values with backslashes, 2.1 only ";" in
// structured values; the VERSION line may stand anywhere in the card.
// The VERSION line is read as the record reads it, with its continuations,
// so that the escapes follow what the VERSION element says.
TCardVersion VersionOfCard(const std::vector<std::string>& lines) {
  TCardVersion card{TEscapes::kSemicolon, false};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (IsFolded(lines[i])) continue;
    std::string line = lines[i];
    while (i + 1 < lines.size() && IsFolded(lines[i + 1])) line.append(lines[++i], 1);
    const THeaderSplit split = SplitHeader(line);
    if (!split.has_colon || !EqualsNoCase(PropertyNameOf(split.header), "VERSION")) continue;
    const std::string_view version = Trim(split.value);
    if (version == "3.0" || version == "3") card.Escapes = TEscapes::kBackslash;
    if (version == "4.0" || version == "4") card = {TEscapes::kBackslash, true};
    return card;
  }
  return card;
}

bool IsQuotedPrintable(const TPropertyLine& line) {
  for (const TParameter& param : line.Params) {
    if (param.Name != "ENCODING" && param.Name != "TYPE") continue;
    for (const std::string& value : param.Values) {
      if (EqualsNoCase(value, "QUOTED-PRINTABLE")) return true;
    }
  }
  return false;
}

bool EndsWithSoftBreak(std::string_view text) { return !text.empty() && text.back() == '='; }

// Whether a line starts a property a card commonly holds: a known name or an
// X- name, with or without a group, then ";" or ":". Some 2.1 writers end a
// quoted-printable value with a soft break all the same; the line after it is
// then no continuation ("NOTE:Favor=" then "X-IRMC-LUID:2"), while a value's
// own continuation rarely starts like that ("Gift: 15.08").
bool StartsAProperty(std::string_view line) {
  std::size_t end = 0;
  while (end < line.size() && (std::isalnum(static_cast<unsigned char>(line[end])) || line[end] == '-' ||
                               line[end] == '.')) {
    ++end;
  }
  if (end == 0 || end >= line.size() || (line[end] != ':' && line[end] != ';')) return false;
  std::string_view name = line.substr(0, end);
  if (const std::size_t dot = name.rfind('.'); dot != std::string_view::npos) name.remove_prefix(dot + 1);
  const std::string upper = UpperAscii(name);
  return upper.starts_with("X-") || upper == "END" || upper == "BEGIN" || IndexOfName(upper, PropertyNames) >= 0;
}

bool IsUtf8Name(std::string_view charset) { return EqualsNoCase(charset, "UTF-8") || EqualsNoCase(charset, "UTF8"); }

// FN as a person reads it: the escapes of every version undone, a line
// break shown as a blank.
std::string ShownName(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char next = value[++i];
      out += next == 'n' || next == 'N' ? ' ' : next;
    } else if (value[i] == '\r' || value[i] == '\n') {
      out += ' ';
    } else {
      out += value[i];
    }
  }
  return std::string(Trim(out));
}

}  // namespace

TvCard2XML::TvCard2XML() = default;
TvCard2XML::~TvCard2XML() = default;

bool TvCard2XML::TakeNestedCard() {
  if (nested_.empty()) return false;
  CardLines = std::move(nested_.front());
  nested_.pop_front();
  return true;
}

void TvCard2XML::Note(std::string text) {
  if (std::find(Notes.begin(), Notes.end(), text) == Notes.end()) Notes.push_back(std::move(text));
}

std::string TvCard2XML::ConvertNextCard(std::vector<std::string>& lines) {
  CardLines.clear();
  if (TakeNestedCard()) return ConvertNestedCard();
  std::size_t taken = 0;
  const bool found = CutCard(
      [&](std::string_view& line) {
        if (taken >= lines.size()) return false;
        line = lines[taken++];
        return true;
      },
      CardLines, nested_);
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(taken));
  return found ? ConvertCard() : std::string();
}

std::string TvCard2XML::ConvertNextCard(TLineCursor& cursor) {
  CardLines.clear();
  if (TakeNestedCard()) return ConvertNestedCard();
  const bool found =
      CutCard([&](std::string_view& line) { return cursor.NextLine(line); }, CardLines, nested_);
  return found ? ConvertCard() : std::string();
}

std::string TvCard2XML::ConvertNestedCard() {
  std::string xml = ConvertCard();
  Note("it stood inside another card and became a card of its own");
  return xml;
}

std::string TvCard2XML::ConvertCard() {
  CardName.clear();
  Notes.clear();
  const TCardVersion version = VersionOfCard(CardLines);
  const std::size_t count = CardLines.size();
  std::string out = "<vCard>";
  std::string logical;  // a property with its continuation lines
  std::size_t i = 1;  // after the start line and its continuations
  while (i < count && IsFolded(CardLines[i])) ++i;
  while (i < count) {
    // The end is framing (nested cards were cut out into cards of their own).
    if (IsCardEnd(CardLines[i]) && !IsFolded(CardLines[i])) {
      ++i;
      continue;
    }
    logical.assign(CardLines[i++]);
    const THeaderSplit first = SplitHeader(logical);
    // Quoted-printable only when a parameter says so (ENCODING=, or the bare 2.1
    // word), not when the words appear in some other parameter's value.
    const bool quoted_printable = first.has_colon && IsQuotedPrintable(ParsePropertyLine(first.header, false));
    if (quoted_printable) {
      // After a soft break ("=" at the end) the next line is data as it stands,
      // ":" or blanks in front included; writers that forget the "=" still go on
      // on lines without a ":".
      while (i < count) {
        const std::string& next = CardLines[i];
        const bool soft_break = EndsWithSoftBreak(logical);
        if ((IsCardEnd(next) && !IsFolded(next)) || (soft_break && StartsAProperty(next))) break;
        // A line starting with "#" is a comment some writers leave between
        // properties, never a forgotten soft break's continuation.
        if (soft_break || (!HasColon(next) && next.front() != '#')) {
          logical += "\r\n";
          logical += soft_break ? std::string_view(next) : TrimLeft(next);
        } else if (IsFolded(next)) {
          logical.append(next, 1);
        } else {
          break;
        }
        ++i;
      }
    } else {
      // Unfolding takes the line break and exactly one blank or tab after it.
      while (i < count && IsFolded(CardLines[i])) logical.append(CardLines[i++], 1);
    }
    const THeaderSplit split = SplitHeader(logical);
    TPropertyLine line = ParsePropertyLine(split.header, version.Version4);
    std::string value = quoted_printable ? DecodeQuotedPrintable(split.value) : std::string(split.value);
    if (IsBase64Property(line) && version.Escapes != TEscapes::kBackslash) {
      // vCard 2.1 data goes on over plain lines up to the empty line after it
      // (3.0 and 4.0 fold theirs). A line with continuations of its own is the
      // next property, its ":" on a later line.
      while (i < count && !HasColon(CardLines[i]) && !(i + 1 < count && IsFolded(CardLines[i + 1]))) {
        value += CardLines[i++];
      }
    }
    std::string charset;
    for (const TParameter& param : line.Params) {
      if (param.Name == "CHARSET" && !param.Values.empty()) charset = param.Values.front();
    }
    // Names and parameters are ASCII by the grammar, but nothing enforces it:
    // they become record text too, so they must be UTF-8 as well.
    line.Name = charsets_.Convert(line.Name, charset);
    line.Group = charsets_.Convert(line.Group, charset);
    for (TParameter& param : line.Params) {
      param.Name = charsets_.Convert(param.Name, charset);
      for (std::string& text : param.Values) text = charsets_.Convert(text, charset);
      // A value the character set turned into nothing is no value, as an empty
      // one written so is none.
      std::erase_if(param.Values, [](const std::string& text) { return text.empty(); });
    }
    if (line.Name.empty()) continue;
    std::string converted = charsets_.Convert(value, charset);
    if (quoted_printable) Note("quoted-printable text was decoded");
    if (converted != value) {
      if (!charset.empty() && !IsUtf8Name(charset)) {
        Note("text in the character set " + UpperAscii(charset) + " was converted to UTF-8");
      } else {
        Note(ReplaceInvalidUtf8(value) != value ? "bytes that were not UTF-8 were read as Windows-1252"
                                                : "control characters a record cannot hold were left out");
      }
    }
    if (IsBase64Property(line) && !version.Version4) {
      Note(UpperAscii(line.Name) + " data was stored as a media type with its base64, as every version reads it");
    }
    if (CardName.empty() && EqualsNoCase(line.Name, "FN")) CardName = ShownName(converted);
    AppendPropertyRecord(out, line, converted, version);
  }
  out += "</vCard>";
  return out;
}

}  // namespace pelorin
