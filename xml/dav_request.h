// The bodies WebDAV clients send (PROPFIND today), read into plain values.
// Parsed as every posted XML here: closed to the network, no document type
// declaration (so no entity from outside or inside), and bounded in size
// before the parser sees the text.
#ifndef PELORIN_XML_DAV_REQUEST_H_
#define PELORIN_XML_DAV_REQUEST_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin {

inline constexpr std::size_t kMaxDavRequestBytes = 1u << 20;  // a multiget of 10,000 hrefs fits
inline constexpr char kDavNamespace[] = "DAV:";
inline constexpr char kCardDavNamespace[] = "urn:ietf:params:xml:ns:carddav";
inline constexpr char kCalendarServerNamespace[] = "http://calendarserver.org/ns/";

// A property name: its namespace URI and local name.
struct TDavName {
  std::string Namespace;
  std::string Name;
  bool operator==(const TDavName&) const = default;
};

struct TPropfindRequest {
  enum class TKind { AllProp, PropName, Prop };
  TKind Kind = TKind::AllProp;
  std::vector<TDavName> Props;  // for Prop, in the order asked
};

// An empty body asks for every property (RFC 4918, 9.1). Nullopt, with the
// reason, when the body is too large, not well-formed, or no DAV:propfind.
std::optional<TPropfindRequest> ParsePropfind(std::string_view body, std::string& problem);

// A CardDAV text-match: the text, how it must stand in the value, whether the
// condition is turned round, and whether case counts (i;octet) or not.
struct TTextMatch {
  std::string Text;
  std::string MatchType = "contains";  // equals, contains, starts-with, ends-with
  bool Negate = false;
  bool CaseSensitive = false;
};

// A param-filter: the parameter must be there on the property (no
// condition), must not be (IsNotDefined), or one of its values must meet the
// text-match.
struct TParamFilter {
  std::string Name;  // upper-cased
  bool IsNotDefined = false;
  std::optional<TTextMatch> Match;
};

// A prop-filter: the property must be there (no condition), must not be
// (IsNotDefined), or it must meet the text-matches and param-filters, any or
// all of them.
struct TPropFilter {
  std::string Name;  // upper-cased
  bool IsNotDefined = false;
  bool AllOf = false;
  std::vector<TTextMatch> Matches;
  std::vector<TParamFilter> ParamFilters;
};

struct TReportRequest {
  // Multiget: CardDAV addressbook-multiget. Empty: the reports answered with
  // an empty multistatus (expand-property, the principal searches). Other:
  // any other report, which is refused.
  enum class TKind { Multiget, SyncCollection, Query, Empty, Other };
  TKind Kind = TKind::Other;
  TDavName Root;                  // the report's element
  std::vector<TDavName> Props;    // asked for each card
  std::vector<std::string> Hrefs;  // as sent, not yet decoded
  std::string AddressDataVersion;  // of C:address-data, when it names one
  std::string SyncToken;           // of sync-collection; empty for the first sync
  std::vector<TPropFilter> Filters;  // of addressbook-query
  bool FiltersAllOf = false;
};

// Nullopt, with the reason, when the body is too large or not well-formed.
std::optional<TReportRequest> ParseReport(std::string_view body, std::string& problem);

}  // namespace pelorin

#endif  // PELORIN_XML_DAV_REQUEST_H_
