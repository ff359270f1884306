// Private state of TQuickDom, shared by the files that implement it
// (quickdom.cpp, quickdom_cursor.cpp, quickdom_save.cpp, quickdom_transform.cpp).
#ifndef PELORIN_XML_QUICKDOM_IMPL_H_
#define PELORIN_XML_QUICKDOM_IMPL_H_

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "xml/quickdom.h"
#include "xml/xml_ptr.h"

namespace pelorin {

// The encoding a store was loaded in, and therefore the one it is saved in.
enum class TStoreEncoding { kUtf8, kUtf16LE, kUtf16BE, kLatin1, kAsciiCompatible };

struct TQuickDom::Impl {
  XmlPtr<xmlDoc> doc;
  xmlNode* current = nullptr;  // the cursor; owns nothing

  TStoreEncoding encoding = TStoreEncoding::kUtf8;
  std::string encoding_name = "UTF-8";  // as declared, for kAsciiCompatible
  // libxml2 keeps no node for the XML declaration, so its text is kept here
  // ("version=... encoding=..."), empty when the file had none.
  std::string declaration;

  // Bumped by every change of the document; a cached query result is only
  // reused while the generation it was computed for is current.
  uint64_t generation = 0;
  std::string query_text;
  XmlPtr<xmlXPathCompExpr> query_expr;  // null when query_text does not compile
  std::vector<xmlNode*> query_nodes;
  uint64_t query_generation = UINT64_MAX;
  size_t query_position = 0;  // index of the node SelectNode/SelectNextNode returned last

  // Compiled stylesheets by path, reused while every file they were read from
  // (the stylesheet and what it includes or imports) keeps its identity, size
  // and modification time.
  struct TFileStamp {
    std::string path;
    uint64_t device = 0, inode = 0, size = 0;
    timespec modified{};
  };
  struct TCachedStylesheet {
    XmlPtr<xsltStylesheet> sheet;
    std::vector<TFileStamp> sources;
    uint64_t revision = 0;  // new with every compilation, never 0
  };
  uint64_t last_stylesheet_revision = 0;
  std::map<std::string, TCachedStylesheet> stylesheets;
  bool cache_stylesheets = true;
  XmlPtr<xsltStylesheet> uncached_stylesheet;  // the last one compiled without caching

  void Touch() { ++generation; }
  // Evaluates xpath against the whole document; the result is cached until
  // the next change. Never throws; a failed evaluation yields no nodes.
  const std::vector<xmlNode*>& Evaluate(const std::string& xpath);
};

// Parses bytes held in memory as a complete XML document, closed to the
// network and refusing document type declarations (so no entity can expand).
// Messages go to ErrorText; null when the text is not well-formed.
XmlPtr<xmlDoc> ParseXmlText(const std::string& bytes, std::string& ErrorText);

// Drops the white space that indentation put between elements, so that a
// store read back after a save is the tree that was saved.
void RemoveFormattingWhitespace(xmlDoc* doc);

// Appends the document in the store file format, before encoding: UTF-8
// whose body is pure ASCII apart from comments, processing instructions and
// CDATA sections.
void SerializeStore(const TQuickDom::Impl& impl, std::string& out);
// Encodes the serialized store for its file (byte-order marks included).
std::string EncodeStore(const std::string& utf8, TStoreEncoding encoding,
                        const std::string& encoding_name);

bool IsValidElementName(const std::string& name);

}  // namespace pelorin

#endif  // PELORIN_XML_QUICKDOM_IMPL_H_
