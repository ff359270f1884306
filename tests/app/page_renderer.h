// Renders the installed pages under app/ the way the service does: a store
// loaded from a file, the stylesheet applied by TQuickDom::Transform with the
// request's fields and the server's parameters, and the output wrapped in the
// prolog of its extension. Then reads the result back with libxml2 so tests
// can ask XPath questions of it. Test-thread only.
#ifndef PELORIN_TESTS_APP_PAGE_RENDERER_H_
#define PELORIN_TESTS_APP_PAGE_RENDERER_H_

#include <string>
#include <vector>

#include "tests/temp_dir.h"
#include "xml/quickdom.h"
#include "xml/xml_ptr.h"

namespace pelorin::testing {

// Absolute path of a file under app/, e.g. AppFile("pelorin/index.htm.xsl").
std::string AppFile(const std::string& relative);
// A fixture file under tests/app/data/.
std::string FixtureText(const std::string& name);

// The prologs the server puts in front of rendered pages.
extern const char kXhtmlProlog[];
extern const char kWmlProlog[];

// The server narrows every rendered body to ISO-8859-1, "?" for what that
// character set cannot hold.
std::string NarrowToLatin1(const std::string& utf8);
// The inverse, for comparing narrowed text with UTF-8 text.
std::string Latin1ToUtf8(const std::string& latin1);

struct TRendered {
  std::string output;  // the transform's result
  std::string errors;  // the transform's ErrorText
};

// Loads `store_xml` and applies the stylesheet at AppFile(page + ".xsl")
// with `fields` (request fields) followed by the server's parameters.
class TPageRenderer {
 public:
  TRendered Render(const std::string& page, const std::string& store_xml,
                   const std::vector<std::string>& fields, const std::string& user = "alice",
                   bool admin = false);

 private:
  TTempDir dir_;
  int stores_ = 0;
};

// A rendered page parsed as XML. Element names of XHTML pages are asked for
// with the prefix "h"; WML pages have no namespace.
class TParsedPage {
 public:
  // Parses prolog + output; ok() tells whether it was well-formed.
  TParsedPage(const std::string& prolog, const std::string& output);

  bool ok() const { return doc_ != nullptr; }
  const std::string& errors() const { return errors_; }

  // String values of the nodes the expression selects, in document order.
  std::vector<std::string> Strings(const std::string& xpath) const;
  // The string value of an expression (count(), string(), ...).
  std::string Value(const std::string& xpath) const;
  int Count(const std::string& xpath) const;
  // All text of the body, as a browser shows it.
  std::string BodyText() const;

 private:
  XmlPtr<xmlXPathObject> Evaluate(const std::string& xpath) const;

  XmlPtr<xmlDoc> doc_;
  std::string errors_;
};

}  // namespace pelorin::testing

#endif  // PELORIN_TESTS_APP_PAGE_RENDERER_H_
