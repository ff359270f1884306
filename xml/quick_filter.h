// TQuickFilter: turns the result tree of one transformation into the text a
// page is made of. Internal to xml/; used by TQuickDom::Transform on the
// thread that runs the transformation.
#ifndef PELORIN_XML_QUICK_FILTER_H_
#define PELORIN_XML_QUICK_FILTER_H_

#include <libxml/tree.h>

#include <string>

namespace pelorin {

class TQuickFilter {
 public:
  enum TResultMode { kMarkup = 0, kText = 1 };

  // Forgets the previous result; the mode returns to markup.
  void ResetOutput();
  // Takes the result tree of a transformation. What came out first decides
  // the mode, as it would for a stream of output events: text (or a copied
  // text node) before any element means a text result; an element or a
  // comment first means markup, and a leading comment wraps everything that
  // follows in an element named "root". The tree must outlive GetResult.
  void Collect(const xmlDoc* result);

  TResultMode ResultMode() const { return mode_; }
  // Markup: the top-level nodes serialized without added indentation,
  // separated by CR LF, pure ASCII with character references; CDATA sections
  // written bare. Text: the text of everything, unescaped.
  std::string GetResult() const;

 private:
  const xmlDoc* result_ = nullptr;
  TResultMode mode_ = kMarkup;
  bool wrap_in_root_ = false;
};

}  // namespace pelorin

#endif  // PELORIN_XML_QUICK_FILTER_H_
