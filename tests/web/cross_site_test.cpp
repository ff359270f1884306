// The cross-site check on its own: which Origin and Referer values name the site a
// request reached, by scheme, host and port, and which name another or nothing usable.
#include "web/cross_site.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace pelorin {
namespace {

RequestInfo PostTo(const std::string& scheme, const std::string& host, std::vector<std::string> headers) {
  RequestInfo req;
  req.Method = "POST";
  req.Path = "/pelorin/index.htm";
  req.Scheme = scheme;
  req.HostName = host;
  req.Headers = std::move(headers);
  return req;
}

TEST(CrossSiteTest, SchemeHostAndPortMustAllMatch) {
  const struct {
    const char* scheme;
    const char* host;
    const char* header;
    bool cross_site;
  } cases[] = {
      {"http", "pelorin.test:9555", "Origin: http://pelorin.test:9555", false},
      {"http", "pelorin.test:9555", "Origin: HTTP://Pelorin.Test:9555", false},  // both compare without case
      {"http", "pelorin.test:9555", "Origin: https://pelorin.test:9555", true},
      {"https", "pelorin.test", "Origin: https://pelorin.test", false},
      {"https", "pelorin.test", "Origin: http://pelorin.test", true},
      {"http", "pelorin.test:9555", "Origin: httpx://pelorin.test:9555", true},
      {"http", "pelorin.test:9555", "Origin: ws://pelorin.test:9555", true},
      {"http", "pelorin.test:9555", "Origin: http://pelorin.test", true},  // another port
      {"http", "pelorin.test:9555", "Origin: http://evil.example", true},
      {"http", "[::1]:9555", "Origin: http://[::1]:9555", false},
      {"http", "pelorin.test:9555", "Referer: http://pelorin.test:9555/pelorin/index.htm?q=1", false},
      {"http", "pelorin.test:9555", "Referer: https://pelorin.test:9555/pelorin/index.htm", true},
      {"http", "pelorin.test:9555", "Referer: /pelorin/index.htm", true},  // not absolute
      {"http", "pelorin.test:9555", "Origin: null", true},
      {"http", "pelorin.test:9555", "Origin: ://pelorin.test:9555", true},     // no scheme
      {"http", "pelorin.test:9555", "Origin: ht tp://pelorin.test:9555", true},
      {"http", "pelorin.test:9555", "Origin: http://", true},                 // no host
      {"http", "pelorin.test:9555", "Origin: http://u@pelorin.test:9555", true},
      {"", "pelorin.test:9555", "Origin: http://pelorin.test:9555", true},  // a request of no known scheme
      {"http", "pelorin.test:9555", "X-Origin: http://evil.example", false},  // neither header
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.cross_site, IsCrossSitePost(PostTo(c.scheme, c.host, {c.header}))) << c.scheme << " " << c.header;
  }
}

TEST(CrossSiteTest, OriginWinsOverReferer) {
  EXPECT_TRUE(IsCrossSitePost(
      PostTo("http", "h:1", {"Referer: http://h:1/index.htm", "Origin: https://h:1"})));
  EXPECT_FALSE(IsCrossSitePost(
      PostTo("http", "h:1", {"Origin: http://h:1", "Referer: https://evil.example/"})));
  EXPECT_FALSE(IsCrossSitePost(PostTo("http", "h:1", {})));
}

}  // namespace
}  // namespace pelorin
