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

void ReadFilter(const xmlNode* filter, TReportRequest& report) {
  report.FiltersAllOf = Attribute(filter, "test") == "allof";
  for (const xmlNode* prop = filter->children; prop != nullptr; prop = prop->next) {
    if (!Is(prop, kCardDavNamespace, "prop-filter")) continue;
    TPropFilter one;
    one.Name = UpperAscii(Attribute(prop, "name"));
    one.AllOf = Attribute(prop, "test") == "allof";
    for (const xmlNode* test = prop->children; test != nullptr; test = test->next) {
      if (Is(test, kCardDavNamespace, "is-not-defined")) one.IsNotDefined = true;
      if (!Is(test, kCardDavNamespace, "text-match")) continue;
      TTextMatch match;
      XmlPtr<xmlChar> text(xmlNodeGetContent(test));
      match.Text = text ? reinterpret_cast<const char*>(text.get()) : "";
      const std::string type = Attribute(test, "match-type");
      if (!type.empty()) match.MatchType = type;
      match.Negate = Attribute(test, "negate-condition") == "yes";
      match.CaseSensitive = Attribute(test, "collation") == "i;octet";
      one.Matches.push_back(std::move(match));
    }
    report.Filters.push_back(std::move(one));
  }
}

}  // namespace

std::optional<TPropfindRequest> ParsePropfind(std::string_view body, std::string& problem) {
  TPropfindRequest request;
  if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) return request;
  if (body.size() > kMaxDavRequestBytes) {
    problem = "The request body has more than " + std::to_string(kMaxDavRequestBytes) + " bytes.";
    return std::nullopt;
  }
  std::string errors;
  const XmlPtr<xmlDoc> doc = ParseXmlText(std::string(body), errors);
  const xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
  if (root == nullptr) {
    problem = "The request body is not well-formed XML.";
    return std::nullopt;
  }
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
  if (body.size() > kMaxDavRequestBytes) {
    problem = "The request body has more than " + std::to_string(kMaxDavRequestBytes) + " bytes.";
    return std::nullopt;
  }
  std::string errors;
  const XmlPtr<xmlDoc> doc = ParseXmlText(std::string(body), errors);
  const xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
  if (root == nullptr) {
    problem = "The request body is not well-formed XML.";
    return std::nullopt;
  }
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
          XmlPtr<xmlChar> version(xmlGetProp(prop, reinterpret_cast<const xmlChar*>("version")));
          if (version) report.AddressDataVersion = reinterpret_cast<const char*>(version.get());
        }
      }
    } else if (Is(child, kCardDavNamespace, "filter")) {
      ReadFilter(child, report);
    } else if (Is(child, kDavNamespace, "sync-token")) {
      XmlPtr<xmlChar> text(xmlNodeGetContent(child));
      report.SyncToken = text ? reinterpret_cast<const char*>(text.get()) : "";
      report.SyncToken.erase(0, report.SyncToken.find_first_not_of(" \t\r\n"));
      report.SyncToken.erase(report.SyncToken.find_last_not_of(" \t\r\n") + 1);
    } else if (Is(child, kDavNamespace, "href")) {
      XmlPtr<xmlChar> text(xmlNodeGetContent(child));
      std::string href = text ? reinterpret_cast<const char*>(text.get()) : "";
      href.erase(0, href.find_first_not_of(" \t\r\n"));
      href.erase(href.find_last_not_of(" \t\r\n") + 1);
      report.Hrefs.push_back(std::move(href));
    }
  }
  return report;
}

}  // namespace pelorin
