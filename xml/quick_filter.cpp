#include "xml/quick_filter.h"

#include <string_view>

#include "xml/markup_writer.h"
#include "xml/xml_escape.h"

namespace pelorin {
namespace {

const char* Chars(const xmlChar* text) { return text ? reinterpret_cast<const char*>(text) : ""; }

// Served as text/html, "<div/>" opens a div that never closes; only the
// elements that can have no content may be written as empty-element tags.
bool IsVoidHtmlElement(std::string_view name) {
  static constexpr std::string_view kVoid[] = {"area", "base",  "br",   "col",    "embed",
                                               "hr",   "img",   "input", "link",  "meta",
                                               "param", "source", "track", "wbr"};
  for (std::string_view candidate : kVoid) {
    if (candidate.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) {
      char c = name[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      same = c == candidate[i];
    }
    if (same) return true;
  }
  return false;
}

void AppendMarkup(std::string& out, const xmlNode* node) {
  switch (node->type) {
    case XML_ELEMENT_NODE: {
      out += '<';
      AppendQualifiedName(out, node);
      AppendAttributes(out, node);
      if (node->children == nullptr && IsVoidHtmlElement(Chars(node->name))) {
        out += "/>";
        return;
      }
      out += '>';
      for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        AppendMarkup(out, child);
      }
      out += "</";
      AppendQualifiedName(out, node);
      out += '>';
      return;
    }
    case XML_TEXT_NODE:
      AppendEscapedText(out, Chars(node->content));
      return;
    case XML_CDATA_SECTION_NODE:
      out += Chars(node->content);  // bare: scripts and styles must reach the browser as written
      return;
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
      AppendCommentOrInstruction(out, node);
      return;
    default:
      return;
  }
}

void AppendText(std::string& out, const xmlNode* node) {
  for (; node != nullptr; node = node->next) {
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      out += Chars(node->content);
    } else if (node->type == XML_ELEMENT_NODE) {
      AppendText(out, node->children);
    }
  }
}

bool IsOutput(const xmlNode* node) { return node->type != XML_DTD_NODE; }

}  // namespace

void TQuickFilter::ResetOutput() {
  result_ = nullptr;
  mode_ = kMarkup;
  wrap_in_root_ = false;
}

void TQuickFilter::Collect(const xmlDoc* result) {
  ResetOutput();
  result_ = result;
  if (result == nullptr) return;
  for (const xmlNode* node = result->children; node != nullptr; node = node->next) {
    if (!IsOutput(node)) continue;
    if (node->type == XML_TEXT_NODE) mode_ = kText;
    if (node->type == XML_COMMENT_NODE) wrap_in_root_ = true;
    return;  // the first output decides
  }
}

std::string TQuickFilter::GetResult() const {
  std::string out;
  if (result_ == nullptr) return out;
  if (mode_ == kText) {
    AppendText(out, result_->children);
    return out;
  }
  if (wrap_in_root_) out += "<root>";
  bool first = true;
  for (const xmlNode* node = result_->children; node != nullptr; node = node->next) {
    if (!IsOutput(node)) continue;
    if (!first && !wrap_in_root_) out += "\r\n";
    first = false;
    AppendMarkup(out, node);
  }
  if (wrap_in_root_) out += "</root>";
  return out;
}

}  // namespace pelorin
