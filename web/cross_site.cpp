#include "web/cross_site.h"

#include <string>
#include <string_view>

namespace pelorin {
namespace {

bool IsSchemeCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
         c == '.';
}

struct TSiteOfUrl {
  std::string_view Scheme;
  std::string_view Authority;  // host[:port]
};

// The scheme and host[:port] of an Origin or Referer value; false when the value is
// not an absolute URL with a host. Browsers never send user information there, so
// a value carrying it is treated as malformed.
bool SiteOf(std::string_view url, TSiteOfUrl& site) {
  const std::size_t scheme_end = url.find("://");
  if (scheme_end == std::string_view::npos || scheme_end == 0) return false;
  site.Scheme = url.substr(0, scheme_end);
  for (const char c : site.Scheme) {
    if (!IsSchemeCharacter(c)) return false;
  }
  const std::string_view rest = url.substr(scheme_end + 3);
  site.Authority = rest.substr(0, rest.find_first_of("/?#"));
  if (site.Authority.empty()) return false;
  for (const char c : site.Authority) {
    if (static_cast<unsigned char>(c) <= 32 || c == '@' || c == '\\' || c == 0x7f) return false;
  }
  return true;
}

}  // namespace

// Basic credentials go with every request a browser sends, also with a form that
// a page of another site posts; such a post names that site as its Origin (or, in
// older browsers, its Referer). The scheme is part of the site: a page served over
// plain HTTP can be altered on the way, so it must not post as if it were the
// HTTPS site of the same host, nor the other way round.
bool IsCrossSitePost(const RequestInfo& req) {
  std::string source = HeaderValue(req.Headers, "Origin");
  if (source.empty()) source = HeaderValue(req.Headers, "Referer");
  if (source.empty()) return false;
  TSiteOfUrl site;
  if (!SiteOf(source, site)) return true;
  return !EqualsIgnoringCase(site.Scheme, req.Scheme) || !EqualsIgnoringCase(site.Authority, req.HostName);
}

}  // namespace pelorin
