// Keeps indentation out of a document while it is parsed: white space that
// stands between markup never becomes a node, so loading a large store does
// not build (and then free) millions of blank text nodes. Used on the thread
// that parses, for the duration of one parse.
#ifndef PELORIN_XML_WHITESPACE_FILTER_H_
#define PELORIN_XML_WHITESPACE_FILTER_H_

#include <libxml/parser.h>

#include <string>

namespace pelorin {

// While alive, the parser context drops every text that is white space only
// and stands in an element that also holds elements, comments or processing
// instructions. Text holding anything else is kept whole, however the parser
// splits it into pieces; white space alone in an element stays.
class TWhitespaceFilter {
 public:
  explicit TWhitespaceFilter(xmlParserCtxt* parser);
  ~TWhitespaceFilter();
  TWhitespaceFilter(const TWhitespaceFilter&) = delete;
  TWhitespaceFilter& operator=(const TWhitespaceFilter&) = delete;

  // Called from the parser's callbacks.
  void Characters(xmlParserCtxt* parser, const xmlChar* text, int length);
  void BeforeMarkup();
  void BeforeCdata(xmlParserCtxt* parser);
  void BeforeEndElement(xmlParserCtxt* parser);

 private:
  void Flush(xmlParserCtxt* parser);

  std::string pending_;  // white space whose fate depends on what follows
  TWhitespaceFilter* previous_;
};

}  // namespace pelorin

#endif  // PELORIN_XML_WHITESPACE_FILTER_H_
