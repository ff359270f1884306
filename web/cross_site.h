// The cross-site check of form posts: whether a post that carries the browser's
// Basic credentials was sent by a page of another site. A pure function of the
// request, called on the connection's thread before any record command runs.
#ifndef PELORIN_WEB_CROSS_SITE_H_
#define PELORIN_WEB_CROSS_SITE_H_

#include "web/request_info.h"

namespace pelorin {

// True when the Origin header (or, without one, the Referer) names another site
// than the one the request reached: another scheme, host or port, or a value that
// is not an absolute URL with a host (the Origin "null" included). A post with
// neither header is not cross-site: scripts and clients send none.
bool IsCrossSitePost(const RequestInfo& req);

// The answer (403) to a post the check refuses.
inline constexpr char kCrossSiteRefusal[] = "Cross-site request refused.";

}  // namespace pelorin

#endif  // PELORIN_WEB_CROSS_SITE_H_
