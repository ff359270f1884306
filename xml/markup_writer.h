// Writing element names and attributes, shared by the store writer and the
// page serializer. Internal to xml/.
#ifndef PELORIN_XML_MARKUP_WRITER_H_
#define PELORIN_XML_MARKUP_WRITER_H_

#include <libxml/tree.h>

#include <string>

namespace pelorin {

// The node's name with its namespace prefix, if it has one.
void AppendQualifiedName(std::string& out, const xmlNode* node);
// The element's namespace declarations and attributes, each preceded by a blank,
// values escaped as attribute values.
void AppendAttributes(std::string& out, const xmlNode* element);
// A comment as "<!--" text "-->", a processing instruction as "<?" name, a
// blank, its data and "?>"; their text is written as it is.
void AppendCommentOrInstruction(std::string& out, const xmlNode* node);

}  // namespace pelorin

#endif  // PELORIN_XML_MARKUP_WRITER_H_
