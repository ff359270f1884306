// Character sets of card values: every value leaves the reader as UTF-8 that
// an XML parser accepts. TCharsetConverter owns its iconv handles; one object
// per thread (the reader keeps one per converter).
#ifndef PELORIN_VCARD_CHARSET_H_
#define PELORIN_VCARD_CHARSET_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin {

// Appends the UTF-8 form of `c` (at most U+10FFFF, no surrogate).
void AppendUtf8(std::string& out, char32_t c);

// Valid UTF-8 sequences pass; every byte that is not part of one is read as
// Windows-1252 (the code page of the files that carry no CHARSET but are not
// UTF-8) and converted. Characters that XML 1.0 does not allow (controls
// other than tab, CR and LF; U+FFFE, U+FFFF) are dropped.
std::string ToXmlUtf8(std::string_view bytes);

// Converts values from the character set a CHARSET parameter names.
class TCharsetConverter {
 public:
  TCharsetConverter();
  ~TCharsetConverter();
  TCharsetConverter(const TCharsetConverter&) = delete;
  TCharsetConverter& operator=(const TCharsetConverter&) = delete;

  // The value as XML-safe UTF-8. An empty, unknown or malformed charset name
  // (or one past the sixteenth distinct name) falls back to ToXmlUtf8; bytes
  // the named set cannot decode become U+FFFD.
  std::string Convert(std::string_view bytes, std::string_view charset);

 private:
  class TIconv;
  TIconv* Find(const std::string& name);
  // Open converters by upper-cased name, failed opens included.
  std::vector<std::unique_ptr<TIconv>> cache_;
};

}  // namespace pelorin

#endif  // PELORIN_VCARD_CHARSET_H_
