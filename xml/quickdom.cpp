// TQuickDom: loading, fragments and the editing operations. Queries and
// navigation live in quickdom_cursor.cpp, saving in quickdom_save.cpp,
// rendering in quickdom_transform.cpp.
#include "xml/quickdom.h"

#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <fstream>
#include <cstring>
#include <stdexcept>
#include <unordered_set>

#include "xml/quickdom_impl.h"
#include "xml/whitespace_filter.h"
#include "xml/xml_fragment.h"
#include "xml/xml_fragment_impl.h"
#include "xml/xml_library.h"

namespace pelorin {
namespace {

const xmlChar* Xml(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }

// A document type declaration is the door to entity expansion and external
// loading; neither stores nor posted fragments have a use for one.
void RefuseDoctype(void* context, const xmlChar* /*name*/, const xmlChar* /*external_id*/,
                   const xmlChar* /*system_id*/) {
  auto* parser = static_cast<xmlParserCtxt*>(context);
  ReportXmlError("DOCTYPE declarations are not accepted");
  parser->wellFormed = 0;
  xmlStopParser(parser);
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  if (size < 0) return false;
  bytes.resize(static_cast<size_t>(size));
  in.seekg(0);
  return static_cast<bool>(in.read(bytes.data(), size));
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The file's own bytes decide: a byte-order mark, else the declared encoding.
TStoreEncoding DetectEncoding(const std::string& bytes, const xmlChar* declared) {
  auto starts = [&](const char* prefix, size_t n) { return bytes.compare(0, n, prefix, n) == 0; };
  if (starts("\xFF\xFE", 2) || starts("<\0?\0", 4)) return TStoreEncoding::kUtf16LE;
  if (starts("\xFE\xFF", 2) || starts("\0<\0?", 4)) return TStoreEncoding::kUtf16BE;
  if (starts("\xEF\xBB\xBF", 3) || declared == nullptr) return TStoreEncoding::kUtf8;
  const std::string name = UpperAscii(reinterpret_cast<const char*>(declared));
  if (name == "UTF-8" || name == "UTF8") return TStoreEncoding::kUtf8;
  if (name == "ISO-8859-1" || name == "ISO8859-1" || name == "LATIN1" || name == "ISO_8859-1") {
    return TStoreEncoding::kLatin1;
  }
  return TStoreEncoding::kAsciiCompatible;
}

// The text between "<?xml " and "?>" at the start of the file, empty when the
// file has no declaration. UTF-16 files are read through their low bytes,
// which is exact for the ASCII a declaration is made of.
std::string ReadDeclaration(const std::string& bytes, TStoreEncoding encoding) {
  std::string head;
  size_t start = 0;
  size_t step = 1;
  if (encoding == TStoreEncoding::kUtf16LE || encoding == TStoreEncoding::kUtf16BE) {
    start = (bytes.size() >= 2 && (bytes[0] == '\xFF' || bytes[0] == '\xFE')) ? 2 : 0;
    if (encoding == TStoreEncoding::kUtf16BE) ++start;
    step = 2;
  } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    start = 3;
  }
  for (size_t i = start; i < bytes.size() && head.size() < 512; i += step) head += bytes[i];
  if (head.compare(0, 5, "<?xml") != 0 || head.size() < 6 ||
      (head[5] != ' ' && head[5] != '\t' && head[5] != '\r' && head[5] != '\n')) {
    return {};
  }
  const size_t end = head.find("?>");
  if (end == std::string::npos) return {};
  std::string data = head.substr(6, end - 6);
  while (!data.empty() && (data.back() == ' ' || data.back() == '\t' || data.back() == '\r' ||
                           data.back() == '\n')) {
    data.pop_back();
  }
  return data;
}

bool IsTextNode(const xmlNode* node) { return node != nullptr && node->type == XML_TEXT_NODE; }

bool IsMarkupNode(const xmlNode* node) {
  return node != nullptr && (node->type == XML_ELEMENT_NODE || node->type == XML_COMMENT_NODE ||
                             node->type == XML_PI_NODE);
}

bool IsWhitespaceOnly(const xmlChar* text) {
  if (text == nullptr) return true;
  for (; *text != 0; ++text) {
    if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') return false;
  }
  return true;
}

// Removes "\n" followed by exactly `indent` spaces from the end (or start) of text.
bool StripIndent(std::string& text, size_t indent, bool at_end) {
  const std::string pattern = "\n" + std::string(indent, ' ');
  if (text.size() < pattern.size()) return false;
  if (at_end && text.compare(text.size() - pattern.size(), pattern.size(), pattern) == 0) {
    text.erase(text.size() - pattern.size());
    return true;
  }
  if (!at_end && text.compare(0, pattern.size(), pattern) == 0) {
    text.erase(0, pattern.size());
    return true;
  }
  return false;
}

// The exact inverse of what the writer adds around markup: a line break and
// indentation before every element, comment and processing instruction, at
// the start of a text that follows a comment, and before the end tag when the
// last child is not text. Text that merely looks like indentation is data.
void NormalizeElement(xmlNode* element, size_t depth) {
  if (xmlNodeGetSpacePreserve(element) == 1) return;  // every blank in it is data
  bool has_markup_child = false;
  for (xmlNode* child = element->children; child != nullptr; child = child->next) {
    if (IsMarkupNode(child)) has_markup_child = true;
  }
  xmlNode* child = element->children;
  while (child != nullptr) {
    xmlNode* next = child->next;
    const bool closing_line = next == nullptr && child->prev != nullptr && !IsTextNode(child->prev);
    if (!IsTextNode(child) || (!has_markup_child && !closing_line)) {
      child = next;  // text-only content is data, never indentation
      continue;
    }
    if (has_markup_child && IsWhitespaceOnly(child->content)) {
      // By far the most common case: indentation between elements.
      xmlUnlinkNode(child);
      xmlFreeNode(child);
      child = next;
      continue;
    }
    std::string text = reinterpret_cast<const char*>(child->content);
    bool changed = false;
    if (IsMarkupNode(next)) changed |= StripIndent(text, 2 * (depth + 1), true);
    if (child->prev != nullptr && child->prev->type == XML_COMMENT_NODE) {
      changed |= StripIndent(text, 2 * (depth + 1), false);
    }
    if (closing_line && text == "\n" + std::string(2 * depth, ' ')) text.clear();
    if (text.empty()) {
      xmlUnlinkNode(child);
      xmlFreeNode(child);
    } else if (changed) {
      xmlNodeSetContent(child, Xml(text));
    }
    child = next;
  }
}

void NormalizeSubtree(xmlNode* root) {
  // Iterative walk: depth is bounded by the parser, but edits are not.
  xmlNode* node = root;
  size_t depth = 0;
  while (node != nullptr) {
    if (node->type == XML_ELEMENT_NODE) NormalizeElement(node, depth);
    if (node->type == XML_ELEMENT_NODE && node->children != nullptr) {
      node = node->children;
      ++depth;
      continue;
    }
    while (node != root && node->next == nullptr) {
      node = node->parent;
      --depth;
    }
    if (node == root) break;
    node = node->next;
  }
}

}  // namespace

XmlPtr<xmlDoc> ParseXmlText(const std::string& bytes, std::string& ErrorText) {
  TXmlErrorCollector errors;
  XmlPtr<xmlDoc> doc;
  if (bytes.size() > static_cast<size_t>(INT_MAX)) {
    ErrorText = "The text is too large to parse.\n";
    return doc;
  }
  XmlPtr<xmlParserCtxt> parser(xmlNewParserCtxt());
  if (!parser) {
    ErrorText = "Out of memory.\n";
    return doc;
  }
  parser->sax->internalSubset = RefuseDoctype;  // each context owns its handler table
  TWhitespaceFilter whitespace(parser.get());
  doc.reset(xmlCtxtReadMemory(parser.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr,
                              nullptr, XML_PARSE_NONET));
  if (doc && !parser->wellFormed) doc.reset();
  ErrorText = errors.Text();
  if (!doc && ErrorText.empty()) ErrorText = "The text is not well-formed XML.\n";
  return doc;
}

void RemoveFormattingWhitespace(xmlDoc* doc) {
  if (doc == nullptr) return;
  if (xmlNode* root = xmlDocGetRootElement(doc)) NormalizeSubtree(root);
}

bool IsValidElementName(const std::string& name) {
  // No prefixes: a prefix without its namespace declaration would make the
  // saved store unreadable.
  return !name.empty() && xmlValidateNCName(Xml(name), 0) == 0;
}

TQuickDom::TQuickDom() : impl_(std::make_unique<Impl>()) {}
TQuickDom::~TQuickDom() = default;

int TQuickDom::LoadFromFile(const std::string& path) {
  impl_->doc.reset();
  impl_->current = nullptr;
  impl_->declaration.clear();
  impl_->Touch();
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return -1;
  std::string errors;
  XmlPtr<xmlDoc> doc = ParseXmlText(bytes, errors);
  if (!doc) return -1;
  impl_->encoding = DetectEncoding(bytes, doc->encoding);
  impl_->encoding_name = doc->encoding ? reinterpret_cast<const char*>(doc->encoding) : "UTF-8";
  impl_->declaration = ReadDeclaration(bytes, impl_->encoding);
  RemoveFormattingWhitespace(doc.get());
  impl_->doc = std::move(doc);
  return 0;
}

std::string TQuickDom::GetText() const {
  const xmlNode* node = impl_->current;
  if (node == nullptr) return {};
  std::string text;
  if (node->type != XML_ELEMENT_NODE) return text;
  for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
    if (child->type == XML_TEXT_NODE && child->content != nullptr) {
      text += reinterpret_cast<const char*>(child->content);
    }
  }
  return text;
}

int32_t TQuickDom::GetInteger(int& status) const {
  if (impl_->current == nullptr) {
    status = kIntegerNoNode;
    return 0;
  }
  const std::string text = GetText();
  if (text.empty()) {
    status = kIntegerEmpty;
    return 0;
  }
  // Surrounding blanks are tolerated: a hand-edited configuration often has them.
  size_t first = text.find_first_not_of(" \t\r\n");
  size_t last = text.find_last_not_of(" \t\r\n");
  if (first == std::string::npos) {
    status = kIntegerInvalid;
    return 0;
  }
  const char* begin = text.data() + first;
  const char* end = text.data() + last + 1;
  if (*begin == '+' && end - begin > 1 && begin[1] != '-') ++begin;
  int32_t value = 0;
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || ptr != end) {
    status = kIntegerInvalid;
    return 0;
  }
  status = kIntegerOk;
  return value;
}

bool TQuickDom::SetText(const std::string& text) {
  xmlNode* node = impl_->current;
  if (node == nullptr) return false;
  impl_->Touch();
  if (node->type != XML_ELEMENT_NODE) {
    xmlNodeSetContent(node, Xml(text));  // raw for text, comment and PI nodes
    return true;
  }
  xmlNode* first_text = nullptr;
  for (xmlNode* child = node->children; child != nullptr;) {
    xmlNode* next = child->next;
    if (child->type == XML_TEXT_NODE) {
      if (first_text == nullptr && !text.empty()) {
        first_text = child;
        xmlNodeSetContent(child, Xml(text));
      } else {
        // An empty text node would change how the element is written
        // ("<A></A>" instead of "<A/>") without changing its content.
        xmlUnlinkNode(child);
        xmlFreeNode(child);
      }
    }
    child = next;
  }
  if (first_text == nullptr && !text.empty()) {
    xmlNode* created = xmlNewDocTextLen(impl_->doc.get(), Xml(text), static_cast<int>(text.size()));
    if (created == nullptr) throw std::runtime_error("Out of memory");
    xmlAddChild(node, created);  // adopts (or merges and frees) the node
  }
  return true;
}

namespace {

xmlNode* NewElement(xmlDoc* doc, const std::string& name) {
  if (!IsValidElementName(name)) throw std::runtime_error("Invalid element name '" + name + "'");
  xmlNode* element = xmlNewDocNode(doc, nullptr, Xml(name), nullptr);
  if (element == nullptr) throw std::runtime_error("Out of memory");
  return element;
}

}  // namespace

bool TQuickDom::AddChild(const std::string& name) {
  xmlNode* node = impl_->current;
  if (node == nullptr) return false;
  if (node->type != XML_ELEMENT_NODE) {
    throw std::runtime_error("An element cannot be added below a node that is not an element");
  }
  xmlNode* element = NewElement(impl_->doc.get(), name);
  xmlAddChild(node, element);  // adopts the element
  impl_->current = element;
  impl_->Touch();
  return true;
}

bool TQuickDom::AddSibling(const std::string& name) {
  xmlNode* node = impl_->current;
  if (node == nullptr || node->parent == nullptr || node->parent->type != XML_ELEMENT_NODE) {
    return false;
  }
  xmlNode* element = NewElement(impl_->doc.get(), name);
  xmlAddChild(node->parent, element);  // adopts the element
  impl_->current = element;
  impl_->Touch();
  return true;
}

int TQuickDom::AppendFragment(const std::string& xml, std::string& ErrorText) {
  ErrorText.clear();
  XmlPtr<xmlDoc> fragment = ParseXmlText(xml, ErrorText);
  if (!ErrorText.empty()) throw std::runtime_error("The XML fragment is not well-formed");
  xmlNode* target = impl_->current;
  if (target == nullptr || target->type != XML_ELEMENT_NODE) {
    throw std::runtime_error("There is no element to append the fragment to");
  }
  xmlNode* element = xmlDocGetRootElement(fragment.get());
  if (element == nullptr) throw std::runtime_error("The XML fragment holds no element");
  RemoveFormattingWhitespace(fragment.get());
  xmlNode* copy = xmlDocCopyNode(element, impl_->doc.get(), 1);
  if (copy == nullptr) throw std::runtime_error("Out of memory");
  xmlAddChild(target, copy);  // adopts the copy
  impl_->current = copy;
  impl_->Touch();
  return 0;
}

namespace {

bool HasElementParent(const xmlNode* node) {
  return node != nullptr && node->parent != nullptr && node->parent->type == XML_ELEMENT_NODE;
}

std::size_t TextBytes(const xmlNode* node) {
  return node->content ? std::strlen(reinterpret_cast<const char*>(node->content)) : 0;
}

// The longest text the children of `parent` would make once the nodes in
// `removed` are gone: adjacent text nodes become one text in the saved file.
std::size_t LongestJoinedText(const xmlNode* parent, const std::unordered_set<const xmlNode*>& removed) {
  std::size_t longest = 0, run = 0;
  for (const xmlNode* child = parent->children; child != nullptr; child = child->next) {
    if (removed.contains(child)) continue;
    if (child->type == XML_TEXT_NODE) {
      run += TextBytes(child);
      longest = std::max(longest, run);
    } else {
      run = 0;
    }
  }
  return longest;
}

bool HasAncestorIn(const xmlNode* node, const std::unordered_set<const xmlNode*>& set) {
  for (const xmlNode* up = node->parent; up != nullptr; up = up->parent) {
    if (set.contains(up)) return true;
  }
  return false;
}

}  // namespace

bool TQuickDom::RemoveCurrent() {
  xmlNode* node = impl_->current;
  if (!HasElementParent(node)) return false;
  xmlNode* parent = node->parent;
  if (IsTextNode(node->prev) && IsTextNode(node->next) &&
      LongestJoinedText(parent, {node}) > kMaxJoinedTextBytes) {
    return false;
  }
  xmlUnlinkNode(node);
  xmlFreeNode(node);
  impl_->current = parent;
  impl_->Touch();
  return true;
}

TQuickDom::TRemoval TQuickDom::RemoveNodes(const std::vector<TNodeRef>& nodes) {
  std::unordered_set<const xmlNode*> removed;
  for (const TNodeRef ref : nodes) removed.insert(static_cast<const xmlNode*>(ref.get()));
  std::unordered_set<const xmlNode*> parents;
  std::vector<xmlNode*> outermost;
  for (const TNodeRef ref : nodes) {
    auto* node = static_cast<xmlNode*>(ref.get());
    if (!HasElementParent(node)) return TRemoval::NotRemovable;
    if (HasAncestorIn(node, removed)) continue;  // freed with its ancestor
    if (parents.insert(node->parent).second && LongestJoinedText(node->parent, removed) > kMaxJoinedTextBytes) {
      return TRemoval::JoinsTextsPastBound;
    }
    outermost.push_back(node);
  }
  for (xmlNode* node : outermost) {
    const xmlNode* current = impl_->current;
    if (current != nullptr && (current == node || HasAncestorIn(current, {node}))) impl_->current = node->parent;
    xmlUnlinkNode(node);
    xmlFreeNode(node);
  }
  if (!outermost.empty()) impl_->Touch();
  return TRemoval::Done;
}

std::string TQuickDom::CurrentName() const {
  const xmlNode* node = impl_->current;
  if (node == nullptr || node->type != XML_ELEMENT_NODE) return {};
  std::string name;
  if (node->ns != nullptr && node->ns->prefix != nullptr) {
    name = reinterpret_cast<const char*>(node->ns->prefix);
    name += ':';
  }
  name += reinterpret_cast<const char*>(node->name);
  return name;
}

bool TQuickDom::CurrentIsRecord() const {
  const xmlNode* node = impl_->current;
  return node != nullptr && node->type == XML_ELEMENT_NODE && HasElementParent(node) &&
         node->parent->parent != nullptr && node->parent->parent->type == XML_DOCUMENT_NODE;
}

bool TQuickDom::CanHoldMarkup(char32_t code_point) const {
  switch (impl_->encoding) {
    case TStoreEncoding::kUtf8:
    case TStoreEncoding::kUtf16LE:
    case TStoreEncoding::kUtf16BE:
      return true;
    case TStoreEncoding::kLatin1:
      return code_point <= 0xFF;
    case TStoreEncoding::kAsciiCompatible:
      return code_point <= 0x7F;  // what every such encoding holds for sure
  }
  return false;
}

void TQuickDom::AppendFragment(const TXmlFragment& fragment) {
  xmlNode* target = impl_->current;
  if (target == nullptr || target->type != XML_ELEMENT_NODE) {
    throw std::runtime_error("There is no element to append the fragment to");
  }
  if (!CanHoldMarkup(fragment.MaxMarkupCodePoint())) {
    throw std::runtime_error("The store's file encoding (" + impl_->encoding_name +
                             ") cannot hold a character of the record's names, comments or CDATA sections");
  }
  const xmlNode* element = fragment.impl().doc ? xmlDocGetRootElement(fragment.impl().doc.get()) : nullptr;
  if (element == nullptr) throw std::runtime_error("The XML fragment holds no element");
  xmlNode* copy = xmlDocCopyNode(const_cast<xmlNode*>(element), impl_->doc.get(), 1);
  if (copy == nullptr) throw std::runtime_error("Out of memory");
  xmlAddChild(target, copy);  // adopts the copy
  impl_->current = copy;
  impl_->Touch();
}

TNodeRef TQuickDom::CurrentNode() const { return TNodeRef(impl_->current); }

uint64_t TQuickDom::Generation() const { return impl_->generation; }

void TQuickDom::SetCurrentNode(TNodeRef node) { impl_->current = static_cast<xmlNode*>(node.get()); }

}  // namespace pelorin
