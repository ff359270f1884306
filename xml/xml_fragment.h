// TXmlFragment: a posted record, parsed and checked against the bounds that
// keep every saved store loadable and every edit quick. The shape is checked
// on the text before the parser sees it (libxml2 spends time quadratic in the
// attributes of one element), then exactly on the parsed tree.
#ifndef PELORIN_XML_XML_FRAGMENT_H_
#define PELORIN_XML_XML_FRAGMENT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace pelorin {

// Far below the loader's own limits (256 levels, 10,000,000 characters per
// text), so that a record standing two levels down in its store, and texts a
// later removal joins, always load again.
inline constexpr std::size_t kMaxFragmentBytes = 16u << 20;
inline constexpr std::size_t kMaxFragmentElements = 10'000;
inline constexpr std::size_t kMaxFragmentAttributes = 10'000;
inline constexpr std::size_t kMaxAttributesPerElement = 256;
inline constexpr std::size_t kMaxDepthBelowRecord = 64;
// A photo's base64 is one text: up to 8,000,000 bytes holds a 5.8 MB image
// and stays below the loader's 10,000,000 characters.
inline constexpr std::size_t kMaxTextBytes = 8'000'000;
inline constexpr std::size_t kMaxNameBytes = 1'000;

struct TFragmentLimits {
  std::size_t MaxBytes = kMaxFragmentBytes;
  std::size_t MaxElements = kMaxFragmentElements;
  std::size_t MaxAttributes = kMaxFragmentAttributes;
  std::size_t MaxAttributesPerElement = kMaxAttributesPerElement;
  std::size_t MaxDepthBelowRoot = kMaxDepthBelowRecord;  // levels below the fragment's own element
  std::size_t MaxTextBytes = kMaxTextBytes;
  std::size_t MaxNameBytes = kMaxNameBytes;
};

class TXmlFragment {
 public:
  TXmlFragment();
  ~TXmlFragment();
  TXmlFragment(TXmlFragment&&) noexcept;
  TXmlFragment& operator=(TXmlFragment&&) noexcept;

  // Parses `xml` (one outer element). False when it is ill-formed (ErrorText
  // holds the parser's messages, one per line, Problem() is empty) or breaks a
  // bound (Problem() says which; ErrorText is empty).
  bool Parse(std::string_view xml, const TFragmentLimits& limits, std::string& ErrorText);
  const std::string& Problem() const { return problem_; }

  // Removes every child element of the outer element with this name.
  void RemoveTopChildren(const std::string& name);
  // The text of the outer element's first child element of that name.
  std::string TopChildText(const std::string& name) const;

  // Every element of that name, the outer one included, in document order:
  // its text (text and CDATA joined) is handed to `change`, and what it
  // returns replaces the element's content. Returns how many there were.
  std::size_t ChangeElementTexts(const std::string& name, const std::function<std::string(const std::string&)>& change);
  // Removes every element of that name below the outer one whose text is empty.
  void RemoveEmptyElements(const std::string& name);
  // Adds a child element with that text at the end of the outer element.
  void AppendTopChild(const std::string& name, const std::string& text);
  // The fragment as XML text again (UTF-8, no declaration).
  std::string Serialize() const;

  // The highest code point in names, comments, processing instructions and
  // CDATA: the parts a store file can only hold in its own encoding.
  char32_t MaxMarkupCodePoint() const { return max_markup_code_point_; }

  struct Impl;
  Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
  std::string problem_;
  char32_t max_markup_code_point_ = 0;
};

// The shape of a fragment's text, counted without parsing it; empty when it
// stays within the bounds, else the first bound it breaks.
std::string FragmentShapeProblem(std::string_view xml, const TFragmentLimits& limits);

}  // namespace pelorin

#endif  // PELORIN_XML_XML_FRAGMENT_H_
