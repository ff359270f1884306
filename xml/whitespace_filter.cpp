#include "xml/whitespace_filter.h"

#include <libxml/SAX2.h>

namespace pelorin {
namespace {

thread_local TWhitespaceFilter* active_filter = nullptr;

xmlParserCtxt* Parser(void* context) { return static_cast<xmlParserCtxt*>(context); }

bool IsBlank(xmlChar c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void OnCharacters(void* context, const xmlChar* text, int length) {
  active_filter->Characters(Parser(context), text, length);
}

void OnStartElement(void* context, const xmlChar* localname, const xmlChar* prefix,
                    const xmlChar* uri, int namespace_count, const xmlChar** namespaces,
                    int attribute_count, int defaulted, const xmlChar** attributes) {
  active_filter->BeforeMarkup();
  xmlSAX2StartElementNs(context, localname, prefix, uri, namespace_count, namespaces,
                        attribute_count, defaulted, attributes);
}

void OnEndElement(void* context, const xmlChar* localname, const xmlChar* prefix,
                  const xmlChar* uri) {
  active_filter->BeforeEndElement(Parser(context));
  xmlSAX2EndElementNs(context, localname, prefix, uri);
}

void OnComment(void* context, const xmlChar* text) {
  active_filter->BeforeMarkup();
  xmlSAX2Comment(context, text);
}

void OnProcessingInstruction(void* context, const xmlChar* target, const xmlChar* data) {
  active_filter->BeforeMarkup();
  xmlSAX2ProcessingInstruction(context, target, data);
}

void OnCdata(void* context, const xmlChar* text, int length) {
  active_filter->BeforeCdata(Parser(context));
  xmlSAX2CDataBlock(context, text, length);
}

bool HasMarkupChild(const xmlNode* node) {
  for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE || child->type == XML_COMMENT_NODE ||
        child->type == XML_PI_NODE) {
      return true;
    }
  }
  return false;
}

}  // namespace

TWhitespaceFilter::TWhitespaceFilter(xmlParserCtxt* parser) : previous_(active_filter) {
  active_filter = this;
  xmlSAXHandler* sax = parser->sax;  // each context owns its handler table
  sax->characters = OnCharacters;
  sax->ignorableWhitespace = OnCharacters;
  sax->startElementNs = OnStartElement;
  sax->endElementNs = OnEndElement;
  sax->comment = OnComment;
  sax->processingInstruction = OnProcessingInstruction;
  sax->cdataBlock = OnCdata;
}

TWhitespaceFilter::~TWhitespaceFilter() { active_filter = previous_; }

void TWhitespaceFilter::Characters(xmlParserCtxt* parser, const xmlChar* text, int length) {
  bool blank = true;
  for (int i = 0; i < length && blank; ++i) blank = IsBlank(text[i]);
  const xmlNode* node = parser->node;
  const bool continues_text = node != nullptr && node->last != nullptr &&
                              node->last->type == XML_TEXT_NODE && pending_.empty();
  // Inside xml:space="preserve" every blank is data; the writer adds none there.
  if (blank && !continues_text && (node == nullptr || xmlNodeGetSpacePreserve(node) != 1)) {
    pending_.append(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
    return;
  }
  Flush(parser);
  xmlSAX2Characters(parser, text, length);
}

void TWhitespaceFilter::BeforeMarkup() { pending_.clear(); }

void TWhitespaceFilter::BeforeCdata(xmlParserCtxt* parser) { Flush(parser); }

void TWhitespaceFilter::BeforeEndElement(xmlParserCtxt* parser) {
  if (pending_.empty()) return;
  if (parser->node != nullptr && HasMarkupChild(parser->node)) {
    pending_.clear();
  } else {
    Flush(parser);
  }
}

void TWhitespaceFilter::Flush(xmlParserCtxt* parser) {
  if (pending_.empty()) return;
  xmlSAX2Characters(parser, reinterpret_cast<const xmlChar*>(pending_.data()),
                    static_cast<int>(pending_.size()));
  pending_.clear();
}

}  // namespace pelorin
