#include "xml/xml_fragment.h"

#include <libxml/tree.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "xml/quickdom_impl.h"
#include "xml/xml_fragment_impl.h"

namespace pelorin {
namespace {

std::string Over(const char* what, std::size_t limit) {
  return "The record has more than " + std::to_string(limit) + " " + what + ".";
}

bool IsNameEnd(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>' || c == '=';
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The highest code point of a UTF-8 text (libxml2 hands out valid UTF-8).
char32_t MaxCodePoint(const xmlChar* text) {
  char32_t highest = 0;
  if (text == nullptr) return highest;
  for (const xmlChar* p = text; *p != 0;) {
    const xmlChar lead = *p;
    char32_t code = lead;
    int extra = 0;
    if (lead >= 0xF0) {
      code = lead & 0x07;
      extra = 3;
    } else if (lead >= 0xE0) {
      code = lead & 0x0F;
      extra = 2;
    } else if (lead >= 0xC0) {
      code = lead & 0x1F;
      extra = 1;
    }
    ++p;
    for (; extra > 0 && (*p & 0xC0) == 0x80; --extra, ++p) code = (code << 6) | (*p & 0x3F);
    if (code > highest) highest = code;
  }
  return highest;
}

std::size_t Length(const xmlChar* text) { return text ? std::strlen(reinterpret_cast<const char*>(text)) : 0; }

}  // namespace

std::string FragmentShapeProblem(std::string_view xml, const TFragmentLimits& limits) {
  if (xml.size() > limits.MaxBytes) return Over("bytes of XML", limits.MaxBytes);
  std::size_t elements = 0, attributes = 0, depth = 0;
  const std::size_t n = xml.size();
  std::size_t i = 0;
  const auto skip_past = [&](std::string_view end) {
    const std::size_t at = xml.find(end, i);
    i = at == std::string_view::npos ? n : at + end.size();
  };
  while (i < n) {
    if (xml[i] != '<') {
      const std::size_t next = xml.find('<', i);
      i = next == std::string_view::npos ? n : next;
      continue;
    }
    const std::string_view rest = xml.substr(i);
    if (rest.starts_with("<!--")) {
      skip_past("-->");
    } else if (rest.starts_with("<![CDATA[")) {
      skip_past("]]>");
    } else if (rest.starts_with("<?")) {
      skip_past("?>");
    } else if (rest.starts_with("<!")) {
      skip_past(">");
    } else if (rest.starts_with("</")) {
      if (depth > 0) --depth;
      skip_past(">");
    } else {
      // A start tag: its name, then attributes up to ">" or "/>".
      if (++elements > limits.MaxElements) return Over("elements", limits.MaxElements);
      ++i;
      while (i < n && !IsNameEnd(xml[i])) ++i;
      std::size_t own_attributes = 0;
      bool closed = false, empty = false;
      while (i < n && !closed) {
        const char c = xml[i];
        if (IsBlank(c)) {
          ++i;
        } else if (c == '>') {
          closed = true;
          ++i;
        } else if (c == '/') {
          empty = true;
          ++i;
        } else if (c == '"' || c == '\'') {
          const std::size_t end = xml.find(c, i + 1);
          i = end == std::string_view::npos ? n : end + 1;
        } else if (c == '=') {
          ++i;
        } else {
          empty = false;
          if (++own_attributes > limits.MaxAttributesPerElement) {
            return Over("attributes on one element", limits.MaxAttributesPerElement);
          }
          if (++attributes > limits.MaxAttributes) return Over("attributes", limits.MaxAttributes);
          while (i < n && !IsNameEnd(xml[i]) && xml[i] != '"' && xml[i] != '\'') ++i;
        }
      }
      // `depth` counts the elements open around this one: 0 for the outer one.
      if (depth > limits.MaxDepthBelowRoot) return Over("levels of elements below it", limits.MaxDepthBelowRoot);
      if (!empty) ++depth;
    }
  }
  return {};
}

TXmlFragment::TXmlFragment() : impl_(std::make_unique<Impl>()) {}
TXmlFragment::~TXmlFragment() = default;
TXmlFragment::TXmlFragment(TXmlFragment&&) noexcept = default;
TXmlFragment& TXmlFragment::operator=(TXmlFragment&&) noexcept = default;

bool TXmlFragment::Parse(std::string_view xml, const TFragmentLimits& limits, std::string& ErrorText) {
  ErrorText.clear();
  problem_ = FragmentShapeProblem(xml, limits);
  impl_->doc.reset();
  max_markup_code_point_ = 0;
  if (!problem_.empty()) return false;
  XmlPtr<xmlDoc> doc = ParseXmlText(std::string(xml), ErrorText);
  if (!doc || !ErrorText.empty()) {
    if (ErrorText.empty()) ErrorText = "The text is not well-formed XML.\n";
    return false;
  }
  xmlNode* root = xmlDocGetRootElement(doc.get());
  if (root == nullptr) {
    problem_ = "The XML fragment holds no element.";
    return false;
  }
  RemoveFormattingWhitespace(doc.get());

  // The exact shape, on the tree; iterative, since depth is what is checked.
  std::size_t elements = 0, attributes = 0;
  char32_t highest = 0;
  const auto check_name = [&](const xmlChar* name) {
    if (Length(name) > limits.MaxNameBytes) return false;
    highest = std::max(highest, MaxCodePoint(name));
    return true;
  };
  // Only the outer element is copied into a store; what stands beside it is not.
  std::size_t level = 0;  // of `node`; the outer element is level 0
  for (const xmlNode* node = root; node != nullptr;) {
    switch (node->type) {
      case XML_ELEMENT_NODE: {
        ++elements;
        if (!check_name(node->name)) problem_ = Over("bytes in a name", limits.MaxNameBytes);
        if (node->ns != nullptr) highest = std::max(highest, MaxCodePoint(node->ns->prefix));
        std::size_t own = 0;
        for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
          ++own;
          if (!check_name(a->name)) problem_ = Over("bytes in a name", limits.MaxNameBytes);
          for (const xmlNode* part = a->children; part != nullptr; part = part->next) {
            if (Length(part->content) > limits.MaxTextBytes) problem_ = Over("bytes in one text", limits.MaxTextBytes);
          }
        }
        attributes += own;
        if (own > limits.MaxAttributesPerElement) {
          problem_ = Over("attributes on one element", limits.MaxAttributesPerElement);
        }
        break;
      }
      case XML_TEXT_NODE:
        if (Length(node->content) > limits.MaxTextBytes) problem_ = Over("bytes in one text", limits.MaxTextBytes);
        break;
      case XML_CDATA_SECTION_NODE:
      case XML_COMMENT_NODE:
        if (Length(node->content) > limits.MaxTextBytes) problem_ = Over("bytes in one text", limits.MaxTextBytes);
        highest = std::max(highest, MaxCodePoint(node->content));
        break;
      case XML_PI_NODE:
        if (!check_name(node->name)) problem_ = Over("bytes in a name", limits.MaxNameBytes);
        if (Length(node->content) > limits.MaxTextBytes) problem_ = Over("bytes in one text", limits.MaxTextBytes);
        highest = std::max(highest, MaxCodePoint(node->content));
        break;
      default:
        break;
    }
    if (node->type == XML_ELEMENT_NODE && level > limits.MaxDepthBelowRoot) {
      problem_ = Over("levels of elements below it", limits.MaxDepthBelowRoot);
    }
    if (!problem_.empty()) return false;
    if (node->type == XML_ELEMENT_NODE && node->children != nullptr) {
      node = node->children;
      ++level;
      continue;
    }
    while (node != root && node->next == nullptr) {
      node = node->parent;
      --level;
    }
    if (node == root) break;
    node = node->next;
  }
  if (elements > limits.MaxElements) problem_ = Over("elements", limits.MaxElements);
  if (attributes > limits.MaxAttributes) problem_ = Over("attributes", limits.MaxAttributes);
  if (!problem_.empty()) return false;
  max_markup_code_point_ = highest;
  impl_->doc = std::move(doc);
  return true;
}

void TXmlFragment::RemoveTopChildren(const std::string& name) {
  xmlNode* root = impl_->doc ? xmlDocGetRootElement(impl_->doc.get()) : nullptr;
  if (root == nullptr) return;
  for (xmlNode* child = root->children; child != nullptr;) {
    xmlNode* next = child->next;
    if (child->type == XML_ELEMENT_NODE && child->ns == nullptr &&
        name == reinterpret_cast<const char*>(child->name)) {
      xmlUnlinkNode(child);
      xmlFreeNode(child);
    }
    child = next;
  }
}

namespace {

bool IsNamed(const xmlNode* node, const std::string& name) {
  return node->type == XML_ELEMENT_NODE && node->ns == nullptr && name == reinterpret_cast<const char*>(node->name);
}

std::string TextOf(const xmlNode* element) {
  std::string text;
  for (const xmlNode* part = element->children; part != nullptr; part = part->next) {
    if ((part->type == XML_TEXT_NODE || part->type == XML_CDATA_SECTION_NODE) && part->content != nullptr) {
      text += reinterpret_cast<const char*>(part->content);
    }
  }
  return text;
}

// Depth-first, parents before children; the depth is bounded by the parse.
template <typename Visit>
void EachElement(xmlNode* node, const Visit& visit) {
  for (; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    xmlNode* const children = node->children;
    visit(node);
    EachElement(children, visit);
  }
}

}  // namespace

std::size_t TXmlFragment::ChangeElementTexts(const std::string& name,
                                             const std::function<std::string(const std::string&)>& change) {
  xmlNode* root = impl_->doc ? xmlDocGetRootElement(impl_->doc.get()) : nullptr;
  std::vector<xmlNode*> found;
  EachElement(root, [&](xmlNode* node) {
    if (IsNamed(node, name)) found.push_back(node);
  });
  for (xmlNode* node : found) {
    const std::string text = change(TextOf(node));
    xmlNodeSetContent(node, nullptr);  // frees every child
    xmlNodeAddContentLen(node, reinterpret_cast<const xmlChar*>(text.data()), static_cast<int>(text.size()));
  }
  return found.size();
}

void TXmlFragment::RemoveEmptyElements(const std::string& name) {
  xmlNode* root = impl_->doc ? xmlDocGetRootElement(impl_->doc.get()) : nullptr;
  if (root == nullptr) return;
  std::vector<xmlNode*> doomed;
  EachElement(root->children, [&](xmlNode* node) {
    if (IsNamed(node, name) && TextOf(node).empty()) doomed.push_back(node);
  });
  // Parents come before their children, so an inner one is freed with its parent first.
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
    xmlUnlinkNode(*it);
    xmlFreeNode(*it);
  }
}

void TXmlFragment::AppendTopChild(const std::string& name, const std::string& text) {
  xmlNode* root = impl_->doc ? xmlDocGetRootElement(impl_->doc.get()) : nullptr;
  if (root == nullptr) return;
  xmlNode* child = xmlNewDocNode(impl_->doc.get(), nullptr, reinterpret_cast<const xmlChar*>(name.c_str()), nullptr);
  if (child == nullptr) throw std::bad_alloc();
  xmlNodeAddContentLen(child, reinterpret_cast<const xmlChar*>(text.data()), static_cast<int>(text.size()));
  xmlAddChild(root, child);
}

std::string TXmlFragment::Serialize() const {
  xmlNode* root = impl_->doc ? xmlDocGetRootElement(impl_->doc.get()) : nullptr;
  if (root == nullptr) return {};
  XmlPtr<xmlBuffer> buffer(xmlBufferCreate());
  if (!buffer) throw std::bad_alloc();
  if (xmlNodeDump(buffer.get(), impl_->doc.get(), root, 0, 0) < 0) throw std::bad_alloc();
  return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())), xmlBufferLength(buffer.get()));
}

std::string TXmlFragment::TopChildText(const std::string& name) const {
  const xmlNode* root = impl_->doc ? xmlDocGetRootElement(impl_->doc.get()) : nullptr;
  if (root == nullptr) return {};
  for (const xmlNode* child = root->children; child != nullptr; child = child->next) {
    if (child->type != XML_ELEMENT_NODE || child->ns != nullptr ||
        name != reinterpret_cast<const char*>(child->name)) {
      continue;
    }
    std::string text;
    for (const xmlNode* part = child->children; part != nullptr; part = part->next) {
      if (part->type == XML_TEXT_NODE && part->content != nullptr) text += reinterpret_cast<const char*>(part->content);
    }
    return text;
  }
  return {};
}

}  // namespace pelorin
