// Where a request goes, worked out once from its path: the store it addresses,
// its extension and the file of the application directory it names.
#ifndef PELORIN_WEB_REQUEST_ROUTE_H_
#define PELORIN_WEB_REQUEST_ROUTE_H_

#include <string>
#include <string_view>

#include "service/store_kind.h"

namespace pelorin {

struct TRequestRoute {
  TStoreKind Store = TStoreKind::Cards;
  std::string Extension;  // lower-cased, with its dot; empty when the path has none
  std::string File;       // AppDir + MapPath(Path)
};

// The text from the last "." to the end, lower-cased; none when a backslash or ":"
// follows that dot. A "/" does not end the search, so a dotted directory counts
// when the last segment has no dot.
std::string PathExtension(std::string_view path);

}  // namespace pelorin

#endif  // PELORIN_WEB_REQUEST_ROUTE_H_
