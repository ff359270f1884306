#include "vcard/upload_text.h"

#include <algorithm>

#include "vcard/charset.h"

namespace pelorin {
namespace {

enum class TByteOrder { kNone, kLittle, kBig };

struct TRunStart {
  TByteOrder order = TByteOrder::kNone;
  std::size_t mark_size = 0;  // bytes of the byte-order mark to skip
};

// First CR or LF at or after `from`, or the text's size. A plain loop: the
// library's find_first_of scans the set once per character.
std::size_t FindLineEnd(std::string_view text, std::size_t from) {
  while (from < text.size() && text[from] != '\r' && text[from] != '\n') ++from;
  return from;
}

unsigned char Byte(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

// Whether "BEGIN:" stands at `at` in UTF-16 of the given order, any case.
bool BeginsCardInUtf16(std::string_view text, std::size_t at, TByteOrder order) {
  static constexpr std::string_view kStart = "BEGIN:";
  if (text.size() - at < 2 * kStart.size()) return false;
  for (std::size_t k = 0; k < kStart.size(); ++k) {
    const unsigned char high = Byte(text, at + 2 * k + (order == TByteOrder::kBig ? 0 : 1));
    unsigned char low = Byte(text, at + 2 * k + (order == TByteOrder::kBig ? 1 : 0));
    if (low >= 'a' && low <= 'z') low = static_cast<unsigned char>(low - 'a' + 'A');
    if (high != 0 || low != static_cast<unsigned char>(kStart[k])) return false;
  }
  return true;
}

TRunStart FindRunStart(std::string_view text, std::size_t at) {
  if (text.size() - at >= 2) {
    if (Byte(text, at) == 0xFF && Byte(text, at + 1) == 0xFE) return {TByteOrder::kLittle, 2};
    if (Byte(text, at) == 0xFE && Byte(text, at + 1) == 0xFF) return {TByteOrder::kBig, 2};
  }
  if (BeginsCardInUtf16(text, at, TByteOrder::kLittle)) return {TByteOrder::kLittle, 0};
  if (BeginsCardInUtf16(text, at, TByteOrder::kBig)) return {TByteOrder::kBig, 0};
  return {};
}

void AppendUtf16(std::string& out, std::string_view run, TByteOrder order) {
  const std::size_t units = run.size() / 2;
  auto unit = [&](std::size_t k) -> char32_t {
    const unsigned a = Byte(run, 2 * k), b = Byte(run, 2 * k + 1);
    return order == TByteOrder::kBig ? (a << 8 | b) : (b << 8 | a);
  };
  for (std::size_t k = 0; k < units; ++k) {
    const char32_t c = unit(k);
    if (c >= 0xD800 && c <= 0xDBFF && k + 1 < units && unit(k + 1) >= 0xDC00 &&
        unit(k + 1) <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (unit(k + 1) - 0xDC00));
      ++k;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, c);
    }
  }
}

}  // namespace

std::string DecodeUploadText(std::string_view raw) {
  // Fast path: without NUL, FE or FF bytes no UTF-16 run can start.
  const bool plain = std::none_of(raw.begin(), raw.end(), [](char c) {
    return c == '\0' || c == '\xFE' || c == '\xFF';
  });
  if (plain) return std::string(raw);
  std::string out;
  out.reserve(raw.size());
  std::size_t at = 0;  // always the start of a line
  while (at < raw.size()) {
    const TRunStart run = FindRunStart(raw, at);
    if (run.order != TByteOrder::kNone) {
      const std::size_t end = std::min(raw.find("\r\n--", at + run.mark_size), raw.size());
      AppendUtf16(out, raw.substr(at + run.mark_size, end - at - run.mark_size), run.order);
      at = end;
      continue;
    }
    std::size_t line_end = FindLineEnd(raw, at);
    if (line_end < raw.size()) ++line_end;
    out.append(raw.substr(at, line_end - at));
    at = line_end;
  }
  return out;
}

TLineCursor::TLineCursor(std::string_view text)
    : text_(text.substr(0, std::min(text.find('\0'), text.size()))) {}

bool TLineCursor::NextLine(std::string_view& line) {
  if (AtEnd()) return false;
  const std::size_t end = FindLineEnd(text_, pos_);
  line = text_.substr(pos_, end - pos_);
  pos_ = end;
  if (pos_ < text_.size()) {
    const bool crlf = text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n';
    pos_ += crlf ? 2 : 1;
  }
  return true;
}

std::vector<std::string> SplitUploadLines(std::string_view text) {
  std::vector<std::string> lines;
  TLineCursor cursor(text);
  std::string_view line;
  while (cursor.NextLine(line)) lines.emplace_back(line);
  return lines;
}

}  // namespace pelorin
