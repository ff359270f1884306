// Extension functions that stylesheets of the application directory may call,
// in the namespace "urn:pelorin:xslt". They do what XSLT 1.0 cannot: reach the
// bytes of a string's UTF-8 form.
#ifndef PELORIN_XML_XSLT_FUNCTIONS_H_
#define PELORIN_XML_XSLT_FUNCTIONS_H_

#include <string>
#include <string_view>

namespace pelorin {

inline constexpr char kXsltFunctionsNamespace[] = "urn:pelorin:xslt";

// Registers the functions with libxslt, once per process (InitXmlLibrary).
void RegisterXsltFunctions();

// quoted-printable-utf8(string): the string's UTF-8 bytes quoted-printable on
// one physical line, as vCard 2.1 values with CHARSET=UTF-8 are written: "=",
// bytes beyond ASCII and controls as =XX, a line break (LF, CR LF or CR) as
// =0D=0A, a blank or tab at the very end encoded so that no reader trims it.
std::string QuotedPrintableUtf8(std::string_view text);

}  // namespace pelorin

#endif  // PELORIN_XML_XSLT_FUNCTIONS_H_
