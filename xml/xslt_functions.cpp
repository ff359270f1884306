#include "xml/xslt_functions.h"

#include <libxml/xpathInternals.h>
#include <libxslt/extensions.h>


namespace pelorin {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendCode(std::string& out, unsigned char byte) {
  out += '=';
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0x0F];
}

void QuotedPrintableFunction(xmlXPathParserContextPtr context, int arguments) {
  if (arguments != 1) {
    xmlXPathSetArityError(context);
    return;
  }
  xmlChar* text = xmlXPathPopString(context);
  if (xmlXPathCheckError(context)) {
    xmlFree(text);
    return;
  }
  const std::string encoded =
      QuotedPrintableUtf8(text == nullptr ? std::string_view() : reinterpret_cast<const char*>(text));
  xmlFree(text);
  xmlXPathReturnString(context, xmlStrdup(reinterpret_cast<const xmlChar*>(encoded.c_str())));
}

}  // namespace

std::string QuotedPrintableUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\r' || byte == '\n') {
      if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "=0D=0A";
    } else if ((byte == ' ' || byte == '\t') && i + 1 == text.size()) {
      AppendCode(out, byte);
    } else if (byte == '=' || byte >= 0x7F || (byte < 0x20 && byte != '\t')) {
      AppendCode(out, byte);
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

void RegisterXsltFunctions() {
  xsltRegisterExtModuleFunction(reinterpret_cast<const xmlChar*>("quoted-printable-utf8"),
                                reinterpret_cast<const xmlChar*>(kXsltFunctionsNamespace), QuotedPrintableFunction);
}

}  // namespace pelorin
