#include "vcard/charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "vcard/vcard_text.h"

namespace pelorin {
namespace {

// Converters are opened once per name and kept for the converter's life; past
// this many names a hostile upload gets no more iconv_open calls, only the
// UTF-8/Windows-1252 reading.
constexpr std::size_t kMaxConverters = 16;
constexpr std::size_t kMaxCharsetNameLength = 40;
constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252 at 0x80..0x9F; the five unassigned bytes become U+FFFD. From
// 0xA0 on the code page equals Latin-1.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

bool IsXmlAscii(unsigned char c) { return c >= 0x20 || c == '\t' || c == '\n' || c == '\r'; }

// Length of the well-formed UTF-8 sequence at `p` (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF), or 0.
std::size_t Utf8SequenceLength(const unsigned char* p, std::size_t left) {
  const unsigned char lead = p[0];
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || p[1] < low || p[1] > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (p[k] < 0x80 || p[k] > 0xBF) return 0;
  }
  return length;
}

bool IsCleanAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x80 && IsXmlAscii(u);
  });
}

bool IsUtf8Name(std::string_view name) {
  return EqualsNoCase(name, "UTF-8") || EqualsNoCase(name, "UTF8") ||
         EqualsNoCase(name, "US-ASCII") || EqualsNoCase(name, "ASCII");
}

// Names are handed to iconv_open, so only the spelling of real charset names
// passes (no "//" suffixes, nothing long).
bool IsPlausibleCharsetName(std::string_view name) {
  if (name.empty() || name.size() > kMaxCharsetNameLength) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '_' || c == '.' || c == ':' || c == '(' || c == ')' || c == '+';
  });
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string ToXmlUtf8(std::string_view bytes) {
  if (IsCleanAscii(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      if (IsXmlAscii(c)) out += static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t length = Utf8SequenceLength(p + i, bytes.size() - i);
    if (length == 0) {
      AppendUtf8(out, c < 0xA0 ? kWindows1252High[c - 0x80] : static_cast<char32_t>(c));
      ++i;
      continue;
    }
    // U+FFFE and U+FFFF are the only well-formed sequences XML refuses.
    const bool non_character = length == 3 && c == 0xEF && p[i + 1] == 0xBF && p[i + 2] >= 0xBE;
    if (!non_character) out.append(bytes.substr(i, length));
    i += length;
  }
  return out;
}

class TCharsetConverter::TIconv {
 public:
  explicit TIconv(std::string name)
      : name_(std::move(name)), handle_(iconv_open("UTF-8", name_.c_str())) {}
  ~TIconv() {
    if (Ok()) iconv_close(handle_);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;

  bool Ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  const std::string& Name() const { return name_; }

  std::string Convert(std::string_view in) {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state per value
    std::string out(in.size() * 2 + 16, '\0');
    char* src = const_cast<char*>(in.data());  // iconv's signature; it never writes there
    std::size_t src_left = in.size();
    std::size_t used = 0;
    while (src_left > 0) {
      char* dst = out.data() + used;
      std::size_t dst_left = out.size() - used;
      const std::size_t result = iconv(handle_, &src, &src_left, &dst, &dst_left);
      used = static_cast<std::size_t>(dst - out.data());
      if (result != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      // EILSEQ or EINVAL: one byte becomes U+FFFD; each round consumes input,
      // so a hostile value costs linear time.
      out.resize(used);
      AppendUtf8(out, kReplacement);
      out.resize(std::max(out.size() * 2, used + 16));
      used += 3;
      ++src;
      --src_left;
    }
    out.resize(used);
    return out;
  }

 private:
  std::string name_;
  iconv_t handle_;
};

TCharsetConverter::TCharsetConverter() = default;
TCharsetConverter::~TCharsetConverter() = default;

TCharsetConverter::TIconv* TCharsetConverter::Find(const std::string& name) {
  for (auto& entry : cache_) {
    if (entry->Name() == name) return entry.get();
  }
  if (cache_.size() >= kMaxConverters) return nullptr;
  cache_.push_back(std::make_unique<TIconv>(name));
  return cache_.back().get();
}

std::string TCharsetConverter::Convert(std::string_view bytes, std::string_view charset) {
  if (charset.empty() || IsUtf8Name(charset) || !IsPlausibleCharsetName(charset)) {
    return ToXmlUtf8(bytes);
  }
  TIconv* converter = Find(UpperAscii(charset));
  if (converter == nullptr || !converter->Ok()) return ToXmlUtf8(bytes);
  return ToXmlUtf8(converter->Convert(bytes));
}

}  // namespace pelorin
