#include "tests/app/page_renderer.h"

#include <libxml/xpathInternals.h>

#include <stdexcept>

#include "service/record_store.h"
#include "web/card_listing.h"
#include "xml/xml_library.h"

namespace pelorin::testing {

const char kXhtmlProlog[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML "
    "1.0 Transitional//EN\" \"DTD/xhtml1-transitional.dtd\">";
const char kWmlProlog[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><!DOCTYPE wml PUBLIC \"-//WAPFORUM//DTD "
    "WML 1.1//EN\" \"http://www.wapforum.org/DTD/wml_1.1.xml\">";

std::string AppFile(const std::string& relative) {
  return std::string(PELORIN_SOURCE_DIR) + "/app/" + relative;
}

std::string FixtureText(const std::string& name) {
  return ReadFile(std::string(PELORIN_SOURCE_DIR) + "/tests/app/data/" + name);
}

std::string NarrowToLatin1(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (i + length > utf8.size()) length = utf8.size() - i;
    uint32_t code = lead;
    if (length == 2) code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
    out += length == 1 ? static_cast<char>(lead) : code <= 0xFF ? static_cast<char>(code) : '?';
    i += length;
  }
  return out;
}

std::string Latin1ToUtf8(const std::string& latin1) {
  std::string out;
  for (const char c : latin1) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

TRendered TPageRenderer::Render(const std::string& page, const std::string& store_xml,
                                const std::vector<std::string>& fields, const std::string& user,
                                bool admin) {
  const std::string store_path = dir_.File("store" + std::to_string(++stores_) + ".xml");
  WriteFile(store_path, store_xml);
  TRecordStore cards(TStoreKind::Cards, "/pelorin/base.xml");
  if (cards.LoadFromFile(store_path) != 0) throw std::runtime_error("fixture store not well-formed");
  // The card list is given the page the service would give it.
  TQuickDom listing;
  TCardListings listings;
  if (page == "pelorin/index.htm") LoadListingDocument(cards, listings, user, fields, listing);
  TQuickDom& store = page == "pelorin/index.htm" ? listing : cards.Dom();
  // As the dispatcher does: the request's fields first, then its own entries.
  std::vector<std::string> parameters = fields;
  parameters.push_back("USER=" + user);
  parameters.push_back("NAME=Display " + user);
  if (admin) parameters.push_back("ADMIN=true");
  parameters.push_back("VERSION=Pelorin V1.0.1");
  TRendered rendered;
  store.Transform(AppFile(page + ".xsl"), &parameters, rendered.output, rendered.errors);
  return rendered;
}

TParsedPage::TParsedPage(const std::string& prolog, const std::string& output) {
  const std::string text = prolog + output;
  TXmlErrorCollector collector;
  doc_.reset(xmlReadMemory(text.data(), static_cast<int>(text.size()), "page", nullptr,
                           XML_PARSE_NONET));
  errors_ = collector.Text();
}

XmlPtr<xmlXPathObject> TParsedPage::Evaluate(const std::string& xpath) const {
  if (!doc_) return nullptr;
  XmlPtr<xmlXPathContext> context(xmlXPathNewContext(doc_.get()));
  xmlXPathRegisterNs(context.get(), BAD_CAST "h", BAD_CAST "http://www.w3.org/1999/xhtml");
  TXmlErrorCollector collector;  // a broken expression in a test fails its expectation
  return XmlPtr<xmlXPathObject>(xmlXPathEvalExpression(BAD_CAST xpath.c_str(), context.get()));
}

std::vector<std::string> TParsedPage::Strings(const std::string& xpath) const {
  std::vector<std::string> out;
  XmlPtr<xmlXPathObject> result = Evaluate(xpath);
  if (!result || result->type != XPATH_NODESET || result->nodesetval == nullptr) return out;
  for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
    XmlPtr<xmlChar> text(xmlXPathCastNodeToString(result->nodesetval->nodeTab[i]));
    out.emplace_back(text ? reinterpret_cast<const char*>(text.get()) : "");
  }
  return out;
}

std::string TParsedPage::Value(const std::string& xpath) const {
  XmlPtr<xmlXPathObject> result = Evaluate(xpath);
  if (!result) return "<no value>";
  XmlPtr<xmlChar> text(xmlXPathCastToString(result.get()));
  return text ? reinterpret_cast<const char*>(text.get()) : "";
}

int TParsedPage::Count(const std::string& xpath) const {
  return static_cast<int>(Strings(xpath).size());
}

std::string TParsedPage::BodyText() const {
  const std::string body = Value("string(/h:html/h:body)");
  return body;
}

}  // namespace pelorin::testing
