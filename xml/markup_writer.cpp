#include "xml/markup_writer.h"

#include "xml/xml_escape.h"

namespace pelorin {
namespace {

const char* Chars(const xmlChar* text) { return text ? reinterpret_cast<const char*>(text) : ""; }

}  // namespace

void AppendQualifiedName(std::string& out, const xmlNode* node) {
  if (node->ns != nullptr && node->ns->prefix != nullptr) {
    out += Chars(node->ns->prefix);
    out += ':';
  }
  out += Chars(node->name);
}

void AppendAttributes(std::string& out, const xmlNode* element) {
  for (const xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) {
    out += ns->prefix ? " xmlns:" : " xmlns";
    out += Chars(ns->prefix);
    out += "=\"";
    AppendEscapedAttribute(out, Chars(ns->href));
    out += '"';
  }
  for (const xmlAttr* attribute = element->properties; attribute != nullptr;
       attribute = attribute->next) {
    out += ' ';
    AppendQualifiedName(out, reinterpret_cast<const xmlNode*>(attribute));
    out += "=\"";
    for (const xmlNode* part = attribute->children; part != nullptr; part = part->next) {
      if (part->type == XML_TEXT_NODE) AppendEscapedAttribute(out, Chars(part->content));
    }
    out += '"';
  }
}

void AppendCommentOrInstruction(std::string& out, const xmlNode* node) {
  if (node->type == XML_COMMENT_NODE) {
    out += "<!--";
    out += Chars(node->content);
    out += "-->";
  } else if (node->type == XML_PI_NODE) {
    out += "<?";
    out += Chars(node->name);
    out += ' ';
    out += Chars(node->content);
    out += "?>";
  }
}

}  // namespace pelorin
