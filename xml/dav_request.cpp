#include "xml/dav_request.h"

#include <libxml/tree.h>

#include "xml/quickdom_impl.h"

namespace pelorin {
namespace {

bool Is(const xmlNode* node, const char* ns, const char* name) {
  return node->type == XML_ELEMENT_NODE && node->ns != nullptr && node->ns->href != nullptr &&
         xmlStrEqual(node->ns->href, reinterpret_cast<const xmlChar*>(ns)) &&
         xmlStrEqual(node->name, reinterpret_cast<const xmlChar*>(name));
}

TDavName NameOf(const xmlNode* node) {
  TDavName name;
  if (node->ns != nullptr && node->ns->href != nullptr) name.Namespace = reinterpret_cast<const char*>(node->ns->href);
  name.Name = reinterpret_cast<const char*>(node->name);
  return name;
}

// The element's text, blanks around it taken off (an indented body has them).
std::string TrimmedText(const xmlNode* node) {
  XmlPtr<xmlChar> content(xmlNodeGetContent(node));
  std::string text = content ? reinterpret_cast<const char*>(content.get()) : "";
  text.erase(0, text.find_first_not_of(" \t\r\n"));
  text.erase(text.find_last_not_of(" \t\r\n") + 1);
  return text;
}

// The body's document, bounded before the parser sees it; null with the
// reason when it is too large or not well-formed.
XmlPtr<xmlDoc> ParseBody(std::string_view body, std::string& problem) {
  XmlPtr<xmlDoc> doc;
  if (body.size() > kMaxDavRequestBytes) {
    problem = "The request body has more than " + std::to_string(kMaxDavRequestBytes) + " bytes.";
    return doc;
  }
  std::string errors;
  doc = ParseXmlText(std::string(body), errors);
  if (!doc || xmlDocGetRootElement(doc.get()) == nullptr) {
    doc.reset();
    problem = "The request body is not well-formed XML.";
  }
  return doc;
}

std::string Attribute(const xmlNode* node, const char* name) {
  XmlPtr<xmlChar> value(xmlGetProp(node, reinterpret_cast<const xmlChar*>(name)));
  return value ? reinterpret_cast<const char*>(value.get()) : "";
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

TTextMatch TextMatchOf(const xmlNode* test) {
  TTextMatch match;
  XmlPtr<xmlChar> text(xmlNodeGetContent(test));
  match.Text = text ? reinterpret_cast<const char*>(text.get()) : "";
  const std::string type = Attribute(test, "match-type");
  if (!type.empty()) match.MatchType = type;
  match.Negate = Attribute(test, "negate-condition") == "yes";
  match.CaseSensitive = Attribute(test, "collation") == "i;octet";
  return match;
}

void ReadFilter(const xmlNode* filter, TReportRequest& report) {
  report.FiltersAllOf = Attribute(filter, "test") == "allof";
  for (const xmlNode* prop = filter->children; prop != nullptr; prop = prop->next) {
    if (!Is(prop, kCardDavNamespace, "prop-filter")) continue;
    TPropFilter one;
    one.Name = UpperAscii(Attribute(prop, "name"));
    one.AllOf = Attribute(prop, "test") == "allof";
    for (const xmlNode* test = prop->children; test != nullptr; test = test->next) {
      if (Is(test, kCardDavNamespace, "is-not-defined")) one.IsNotDefined = true;
      if (Is(test, kCardDavNamespace, "text-match")) one.Matches.push_back(TextMatchOf(test));
      if (!Is(test, kCardDavNamespace, "param-filter")) continue;
      TParamFilter param;
      param.Name = UpperAscii(Attribute(test, "name"));
      for (const xmlNode* inner = test->children; inner != nullptr; inner = inner->next) {
        if (Is(inner, kCardDavNamespace, "is-not-defined")) param.IsNotDefined = true;
        if (Is(inner, kCardDavNamespace, "text-match")) param.Match = TextMatchOf(inner);
      }
      one.ParamFilters.push_back(std::move(param));
    }
    report.Filters.push_back(std::move(one));
  }
}

}  // namespace

std::optional<TPropfindRequest> ParsePropfind(std::string_view body, std::string& problem) {
  TPropfindRequest request;
  if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) return request;
  const XmlPtr<xmlDoc> doc = ParseBody(body, problem);
  if (!doc) return std::nullopt;
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!Is(root, kDavNamespace, "propfind")) {
    problem = "The request body is no DAV:propfind.";
    return std::nullopt;
  }
  for (const xmlNode* child = root->children; child != nullptr; child = child->next) {
    if (Is(child, kDavNamespace, "allprop")) {
      request.Kind = TPropfindRequest::TKind::AllProp;
    } else if (Is(child, kDavNamespace, "propname")) {
      request.Kind = TPropfindRequest::TKind::PropName;
    } else if (Is(child, kDavNamespace, "prop")) {
      request.Kind = TPropfindRequest::TKind::Prop;
      for (const xmlNode* prop = child->children; prop != nullptr; prop = prop->next) {
        if (prop->type == XML_ELEMENT_NODE) request.Props.push_back(NameOf(prop));
      }
    }
  }
  return request;
}

std::optional<TReportRequest> ParseReport(std::string_view body, std::string& problem) {
  const XmlPtr<xmlDoc> doc = ParseBody(body, problem);
  if (!doc) return std::nullopt;
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  TReportRequest report;
  report.Root = NameOf(root);
  if (Is(root, kCardDavNamespace, "addressbook-multiget")) {
    report.Kind = TReportRequest::TKind::Multiget;
  } else if (Is(root, kCardDavNamespace, "addressbook-query")) {
    report.Kind = TReportRequest::TKind::Query;
  } else if (Is(root, kDavNamespace, "sync-collection")) {
    report.Kind = TReportRequest::TKind::SyncCollection;
  } else if (Is(root, kDavNamespace, "expand-property") || Is(root, kDavNamespace, "principal-property-search") ||
             Is(root, kDavNamespace, "principal-search-property-set") ||
             Is(root, kDavNamespace, "principal-match")) {
    report.Kind = TReportRequest::TKind::Empty;
  }
  for (const xmlNode* child = root->children; child != nullptr; child = child->next) {
    if (Is(child, kDavNamespace, "prop")) {
      for (const xmlNode* prop = child->children; prop != nullptr; prop = prop->next) {
        if (prop->type != XML_ELEMENT_NODE) continue;
        report.Props.push_back(NameOf(prop));
        if (Is(prop, kCardDavNamespace, "address-data")) {
          report.AddressDataVersion = Attribute(prop, "version");
        }
      }
    } else if (Is(child, kCardDavNamespace, "filter")) {
      ReadFilter(child, report);
    } else if (Is(child, kDavNamespace, "sync-token")) {
      report.SyncToken = TrimmedText(child);
    } else if (Is(child, kDavNamespace, "href")) {
      report.Hrefs.push_back(TrimmedText(child));
    }
  }
  return report;
}

}  // namespace pelorin
