// Character escaping shared by the store writer and the page serializer:
// the output is pure ASCII, every other character a decimal reference.
#ifndef PELORIN_XML_XML_ESCAPE_H_
#define PELORIN_XML_XML_ESCAPE_H_

#include <string>
#include <string_view>

namespace pelorin {

// Text content: "&" and "<" escaped, ">" kept (except after "]]", where it
// would close a CDATA marker that does not exist), LF written as CR LF, tab
// and printable ASCII kept, every other character as "&#N;" with N its code
// point.
void AppendEscapedText(std::string& out, std::string_view utf8);

// Attribute values: as text, but LF becomes "&#xA;" and a double quote "&#34;".
void AppendEscapedAttribute(std::string& out, std::string_view utf8);

}  // namespace pelorin

#endif  // PELORIN_XML_XML_ESCAPE_H_
