// A card record as a plain tree of elements, free of any XML library: what
// the writer reads, and what tests build and compare. Header only, so that
// xml/ can fill one without linking the vCard code.
#ifndef PELORIN_VCARD_VCARD_RECORD_H_
#define PELORIN_VCARD_VCARD_RECORD_H_

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin {

// Records hold elements only: a leaf has its text, a marker has neither text
// nor children, a container has children and no text.
struct TRecordElement {
  std::string Name;
  std::string Text;
  std::vector<TRecordElement> Children;

  friend bool operator==(const TRecordElement&, const TRecordElement&) = default;
};

// The first child of that name, or null.
inline const TRecordElement* FindChild(const TRecordElement& parent, std::string_view name) {
  for (const TRecordElement& child : parent.Children) {
    if (child.Name == name) return &child;
  }
  return nullptr;
}

// The text of the first child of that name; empty when there is none.
inline std::string_view ChildText(const TRecordElement& parent, std::string_view name) {
  const TRecordElement* child = FindChild(parent, name);
  return child != nullptr ? std::string_view(child->Text) : std::string_view();
}

namespace record_detail {

// Texts in quotes with control bytes spelled out, so that a stray blank or
// line break shows in a failed comparison.
inline void PrintQuoted(std::ostream& os, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  os << '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      os << "\\n";
    } else if (c == '\r') {
      os << "\\r";
    } else if (c == '\t') {
      os << "\\t";
    } else if (c == '"' || c == '\\') {
      os << '\\' << c;
    } else if (byte < 0x20 || byte == 0x7F) {
      os << "\\x" << kHex[byte >> 4] << kHex[byte & 0xF];
    } else {
      os << c;
    }
  }
  os << '"';
}

inline void PrintElement(std::ostream& os, const TRecordElement& element, std::size_t depth) {
  os << '\n' << std::string(2 * depth, ' ') << element.Name;
  if (!element.Text.empty()) {
    os << ' ';
    PrintQuoted(os, element.Text);
  }
  for (const TRecordElement& child : element.Children) PrintElement(os, child, depth + 1);
}

}  // namespace record_detail

// One element per line, indented by depth: readable in a test's failure output.
inline std::ostream& operator<<(std::ostream& os, const TRecordElement& element) {
  record_detail::PrintElement(os, element, 0);
  return os;
}

}  // namespace pelorin

#endif  // PELORIN_VCARD_VCARD_RECORD_H_
