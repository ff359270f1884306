// The filter of a CardDAV addressbook-query (RFC 6352, 10.5), applied to a
// card as a client reads it: its vCard text, each property by name (a group
// prefix does not count), with its parameters and its unescaped value. Every
// test of a prop-filter (a text-match or a param-filter) holds when one of the
// property's instances meets it; `test="allof"` asks for all tests, the
// default for any.
#ifndef PELORIN_WEB_DAV_QUERY_H_
#define PELORIN_WEB_DAV_QUERY_H_

#include <string>

#include "xml/dav_request.h"

namespace pelorin {

bool PassesFilter(const TReportRequest& query, const std::string& vcard);

}  // namespace pelorin

#endif  // PELORIN_WEB_DAV_QUERY_H_
