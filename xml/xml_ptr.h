// Owning pointers for libxml2/libxslt objects. Internal to xml/ and to code
// that talks to libxml2 directly (tests, benchmarks); never in a shared header.
#ifndef PELORIN_XML_XML_PTR_H_
#define PELORIN_XML_XML_PTR_H_

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>

#include <memory>

namespace pelorin {

// One deleter for every type: overloading picks the matching free function, so
// pairing a pointer with the wrong one does not compile.
struct XmlRelease {
  void operator()(xmlDoc* p) const noexcept { xmlFreeDoc(p); }
  void operator()(xmlNode* p) const noexcept { xmlFreeNode(p); }  // unlinked nodes only
  void operator()(xmlChar* p) const noexcept { xmlFree(p); }
  void operator()(xmlBuffer* p) const noexcept { xmlBufferFree(p); }
  void operator()(xmlParserCtxt* p) const noexcept { xmlFreeParserCtxt(p); }
  void operator()(xmlXPathContext* p) const noexcept { xmlXPathFreeContext(p); }
  void operator()(xmlXPathCompExpr* p) const noexcept { xmlXPathFreeCompExpr(p); }
  void operator()(xmlXPathObject* p) const noexcept { xmlXPathFreeObject(p); }
  void operator()(xsltStylesheet* p) const noexcept { xsltFreeStylesheet(p); }
  void operator()(xsltTransformContext* p) const noexcept { xsltFreeTransformContext(p); }
  void operator()(xsltSecurityPrefs* p) const noexcept { xsltFreeSecurityPrefs(p); }
};
template <typename T>
using XmlPtr = std::unique_ptr<T, XmlRelease>;

}  // namespace pelorin

#endif  // PELORIN_XML_XML_PTR_H_
