#include "xml/record_tree.h"

#include <libxml/tree.h>

#include <string>

#include "xml/quickdom.h"
#include "xml/quickdom_impl.h"
#include "xml/xml_ptr.h"

namespace pelorin {
namespace {

bool IsBlankText(const xmlChar* text) {
  if (text == nullptr) return true;
  for (; *text != 0; ++text) {
    if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') return false;
  }
  return true;
}

std::string NameOf(const xmlNode* element) {
  std::string name = reinterpret_cast<const char*>(element->name);
  if (element->ns != nullptr && element->ns->prefix != nullptr) {
    name = reinterpret_cast<const char*>(element->ns->prefix) + (":" + name);
  }
  return name;
}

// Recursive: the parser stops at 256 levels and posted records at 64 below
// the record, so the depth stays small.
TRecordElement TreeOf(const xmlNode* element) {
  TRecordElement tree;
  tree.Name = NameOf(element);
  std::size_t element_children = 0;
  for (const xmlNode* child = element->children; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) ++element_children;
  }
  const bool has_element_child = element_children > 0;
  tree.Children.reserve(element_children);
  for (const xmlNode* child = element->children; child != nullptr; child = child->next) {
    switch (child->type) {
      case XML_ELEMENT_NODE:
        tree.Children.push_back(TreeOf(child));
        break;
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE:
        if (child->content == nullptr) break;
        if (has_element_child && IsBlankText(child->content)) break;  // indentation
        tree.Text += reinterpret_cast<const char*>(child->content);
        break;
      default:
        break;
    }
  }
  return tree;
}

}  // namespace

std::optional<TRecordElement> RecordTreeOfCurrent(const TQuickDom& dom) {
  // CurrentNode owns nothing; the node lives as long as the document keeps it.
  const auto* node = static_cast<const xmlNode*>(dom.CurrentNode().get());
  if (node == nullptr || node->type != XML_ELEMENT_NODE) return std::nullopt;
  return TreeOf(node);
}

std::optional<TRecordElement> RecordTreeFromXml(std::string_view xml) {
  std::string errors;
  XmlPtr<xmlDoc> doc = ParseXmlText(std::string(xml), errors);
  if (!doc || !errors.empty()) return std::nullopt;  // as posted fragments are judged
  RemoveFormattingWhitespace(doc.get());
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (root == nullptr) return std::nullopt;
  return TreeOf(root);
}

}  // namespace pelorin
