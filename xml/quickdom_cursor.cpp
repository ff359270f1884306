// TQuickDom: XPath queries and cursor navigation.
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <chrono>

#include "xml/quickdom.h"
#include "xml/quickdom_impl.h"
#include "xml/xml_library.h"
#include "xml/xpath_deadline.h"

namespace pelorin {
namespace {

// Enough for any sensible query over a large store (a listing query over
// 50,000 cards takes well under a million steps); an expression built to
// run for minutes is cut off here and matches nothing.
constexpr unsigned long kXPathOperationLimit = 50'000'000;
// The steps counted above do not include the node-set merges of some axes, so
// time is bounded too: far beyond any sensible query, short enough that the
// requests waiting for the store go on within seconds.
constexpr std::chrono::seconds kXPathTimeBudget{2};

// The node name a document object model reports for a node.
const char* NodeName(const xmlNode* node) {
  switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_PI_NODE:
      return reinterpret_cast<const char*>(node->name);
    case XML_TEXT_NODE:
      return "#text";
    case XML_CDATA_SECTION_NODE:
      return "#cdata-section";
    case XML_COMMENT_NODE:
      return "#comment";
    default:
      return "";
  }
}

bool HasName(const xmlNode* node, const std::string& name) {
  if (name.empty()) return node->type == XML_ELEMENT_NODE;
  if (node->type == XML_ELEMENT_NODE && node->ns != nullptr && node->ns->prefix != nullptr) {
    const std::string qualified = std::string(reinterpret_cast<const char*>(node->ns->prefix)) +
                                  ":" + reinterpret_cast<const char*>(node->name);
    return qualified == name;
  }
  return name == NodeName(node);
}

// Only nodes of the tree proper can be the cursor: attributes, namespace
// nodes and the document node would let later edits corrupt the document.
bool CanBeCurrent(const xmlNode* node) {
  switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
      return true;
    default:
      return false;
  }
}

}  // namespace

const std::vector<xmlNode*>& TQuickDom::Impl::Evaluate(const std::string& xpath) {
  if (query_generation == generation && query_text == xpath) return query_nodes;
  TXmlErrorCollector swallowed;  // query errors never surface
  query_nodes.clear();
  query_generation = generation;
  if (query_text != xpath || !query_expr) {
    query_text = xpath;
    query_expr.reset(xpath.empty() ? nullptr
                                   : xmlXPathCompile(reinterpret_cast<const xmlChar*>(xpath.c_str())));
  }
  if (!query_expr || !doc) return query_nodes;
  XmlPtr<xmlXPathContext> context(xmlXPathNewContext(doc.get()));
  if (!context) return query_nodes;
  context->node = reinterpret_cast<xmlNode*>(doc.get());
  context->opLimit = kXPathOperationLimit;
  XmlPtr<xmlXPathObject> result;
  {
    const TXPathDeadline deadline(context.get(), kXPathTimeBudget);
    result.reset(xmlXPathCompiledEval(query_expr.get(), context.get()));
  }
  if (!result || result->type != XPATH_NODESET || result->nodesetval == nullptr) return query_nodes;
  xmlNodeSet* nodes = result->nodesetval;
  xmlXPathNodeSetSort(nodes);
  query_nodes.reserve(static_cast<size_t>(nodes->nodeNr));
  for (int i = 0; i < nodes->nodeNr; ++i) {
    if (CanBeCurrent(nodes->nodeTab[i])) query_nodes.push_back(nodes->nodeTab[i]);
  }
  return query_nodes;
}

bool TQuickDom::SelectNode(const std::string& xpath) {
  const std::vector<xmlNode*>& nodes = impl_->Evaluate(xpath);
  if (nodes.empty()) return false;
  impl_->current = nodes.front();
  impl_->query_position = 0;
  return true;
}

bool TQuickDom::SelectNextNode(const std::string& xpath) {
  const std::vector<xmlNode*>& nodes = impl_->Evaluate(xpath);
  xmlNode* current = impl_->current;
  size_t position = impl_->query_position;
  // Iterating callers ask for the node after the one returned last: check
  // there first, so a walk over n matches is not n searches.
  if (current == nullptr || position >= nodes.size() || nodes[position] != current) {
    position = 0;
    while (position < nodes.size() && nodes[position] != current) ++position;
  }
  if (current == nullptr || position >= nodes.size()) return SelectNode(xpath);
  if (position + 1 >= nodes.size()) return false;
  impl_->current = nodes[position + 1];
  impl_->query_position = position + 1;
  return true;
}

bool TQuickDom::SelectRoot() {
  xmlDoc* doc = impl_->doc.get();
  if (doc == nullptr || doc->children == nullptr) {
    impl_->current = nullptr;
    return false;
  }
  xmlNode* root = xmlDocGetRootElement(doc);
  if (root == nullptr) {
    impl_->current = nullptr;
    return false;
  }
  impl_->current = root;
  return true;
}

bool TQuickDom::SelectFirstChild() {
  xmlNode* node = impl_->current;
  if (node == nullptr || node->type != XML_ELEMENT_NODE || node->children == nullptr) return false;
  for (xmlNode* child = node->children; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) {
      impl_->current = child;
      return true;
    }
  }
  impl_->current = node->children;
  return true;
}

bool TQuickDom::SelectParent() {
  xmlNode* node = impl_->current;
  if (node == nullptr || node->parent == nullptr || node->parent->type != XML_ELEMENT_NODE) {
    return false;
  }
  impl_->current = node->parent;
  return true;
}

bool TQuickDom::SelectSibling(const std::string& name) {
  xmlNode* node = impl_->current;
  if (node == nullptr || node->parent == nullptr) return false;
  for (xmlNode* sibling = node->parent->children; sibling != nullptr; sibling = sibling->next) {
    if (HasName(sibling, name)) {
      impl_->current = sibling;
      return true;
    }
  }
  return false;
}

bool TQuickDom::SelectNextSibling(const std::string& name) {
  xmlNode* node = impl_->current;
  if (node == nullptr) return false;
  if (!name.empty() && !HasName(node, name)) return SelectSibling(name);
  for (xmlNode* sibling = node->next; sibling != nullptr; sibling = sibling->next) {
    if (HasName(sibling, name)) {
      impl_->current = sibling;
      return true;
    }
  }
  return false;
}

std::string TQuickDom::GetSiblingText(const std::string& name) {
  if (!SelectSibling(name)) return {};
  return GetText();
}

}  // namespace pelorin
