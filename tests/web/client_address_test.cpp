// Client addresses as the sign-in throttle sees them: the canonical text of an
// address, the group it counts in, and the client named by X-Forwarded-For
// behind a trusted proxy, with the entries a client could have made up.
#include "web/client_address.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace pelorin {
namespace {

TEST(CanonicalAddressTest, AddressesInTheirUsualTextAndEverythingElseRefused) {
  const struct {
    const char* text;
    const char* want;  // empty: no address
  } cases[] = {
      {"192.0.2.1", "192.0.2.1"},
      {"::ffff:192.0.2.1", "192.0.2.1"},
      {"::FFFF:c000:0201", "192.0.2.1"},
      {"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
      {"::1", "::1"},
      {"fe80::1%eth0", "fe80::1"},
      {"::192.0.2.1", "::192.0.2.1"},  // the old compatible form is not a mapped one
      {"192.0.2.1:80", ""},
      {"[2001:db8::1]", ""},
      {"192.0.2", ""},
      {"192.0.2.256", ""},
      {"010.0.0.1", ""},
      {" 192.0.2.1", ""},
      {"pelorin.test", ""},
      {"", ""},
      {"%eth0", ""},
      {"1111:2222:3333:4444:5555:6666:7777:8888:9999", ""},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> got = CanonicalAddress(c.text);
    EXPECT_EQ(std::string(c.want), got.value_or("")) << c.text;
  }
  EXPECT_FALSE(CanonicalAddress(std::string(200, '1')).has_value());
}

TEST(AddressGroupTest, IPv4AloneIPv6ByItsSlash64AndTheLoopbackAsOne) {
  const struct {
    const char* address;
    const char* group;
  } cases[] = {
      {"192.0.2.1", "192.0.2.1"},
      {"::ffff:192.0.2.1", "192.0.2.1"},
      {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
      {"2001:db8:1:2::", "2001:db8:1:2::/64"},
      {"2001:DB8:1:2:ffff:ffff:ffff:ffff", "2001:db8:1:2::/64"},
      {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
      {"fe80::1%eth0", "fe80::/64"},
      {"127.0.0.1", "127.0.0.1"},
      {"127.0.0.2", "127.0.0.2"},  // IPv4 addresses stay apart, on the loopback too
      {"::ffff:127.0.0.1", "127.0.0.1"},
      {"::1", "127.0.0.1"},
      {"0:0:0:0:0:0:0:1", "127.0.0.1"},
      {"::2", "::/64"},
      {"::", "::/64"},
      {"128.0.0.1", "128.0.0.1"},
      {"126.255.255.255", "126.255.255.255"},
      {"not an address", "not an address"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.group, AddressGroup(c.address)) << c.address;
}

TEST(ClientAddressTest, ForwardedForCountsOnlyBehindATrustedProxy) {
  const std::vector<std::string> trusted = {"192.0.2.1", "2001:db8::1"};
  const struct {
    const char* peer;
    std::vector<std::string> headers;
    const char* client;
  } cases[] = {
      {"192.0.2.1", {"X-Forwarded-For: 198.51.100.7"}, "198.51.100.7"},
      {"::ffff:192.0.2.1", {"x-forwarded-for: 198.51.100.7"}, "198.51.100.7"},
      {"2001:db8:0::1", {"X-Forwarded-For: 2001:db8:9::9"}, "2001:db8:9::9"},
      {"192.0.2.1", {}, "192.0.2.1"},                                   // the proxy's own request
      {"192.0.2.1", {"X-Forwarded-For:"}, "192.0.2.1"},
      {"192.0.2.2", {"X-Forwarded-For: 198.51.100.7"}, "192.0.2.2"},   // untrusted peer
      {"::ffff:192.0.2.2", {"X-Forwarded-For: 198.51.100.7"}, "192.0.2.2"},
      // Read from the right: the left entries are what the client sent itself.
      {"192.0.2.1", {"X-Forwarded-For: 10.0.0.1, 198.51.100.7"}, "198.51.100.7"},
      {"192.0.2.1", {"X-Forwarded-For: 198.51.100.7, 2001:db8::1"}, "198.51.100.7"},  // a second proxy
      {"192.0.2.1", {"X-Forwarded-For: 198.51.100.7,192.0.2.1 ,2001:db8::1"}, "198.51.100.7"},
      {"192.0.2.1", {"X-Forwarded-For: 192.0.2.1, 2001:db8::1"}, "192.0.2.1"},  // proxies only
      {"192.0.2.1", {"X-Forwarded-For: 10.0.0.1", "X-Forwarded-For: 198.51.100.8"}, "198.51.100.8"},
      {"192.0.2.1", {"X-Forwarded-For: 198.51.100.7:4711"}, "198.51.100.7"},
      {"192.0.2.1", {"X-Forwarded-For: [2001:db8:9::9]:4711"}, "2001:db8:9::9"},
      {"192.0.2.1", {"X-Forwarded-For: ::ffff:198.51.100.7"}, "198.51.100.7"},
      // An entry that is no address ends the search at the peer.
      {"192.0.2.1", {"X-Forwarded-For: unknown"}, "192.0.2.1"},
      {"192.0.2.1", {"X-Forwarded-For: 198.51.100.7, unknown"}, "192.0.2.1"},
      {"192.0.2.1", {"X-Forwarded-For: 198.51.100.7,"}, "192.0.2.1"},
      {"192.0.2.1", {"X-Forwarded-For: 198.51.100.7 198.51.100.8"}, "192.0.2.1"},
      {"192.0.2.1", {"X-Forwarded-For: _hidden"}, "192.0.2.1"},
      {"192.0.2.1", {"Forwarded: for=198.51.100.7"}, "192.0.2.1"},   // another header
      {"192.0.2.1", {"X-Forwarded-Forx: 198.51.100.7"}, "192.0.2.1"},
      {"not an address", {"X-Forwarded-For: 198.51.100.7"}, "not an address"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.client, ClientAddress(c.peer, c.headers, trusted))
        << c.peer << " " << (c.headers.empty() ? "" : c.headers.back());
  }
}

TEST(ClientAddressTest, WithoutTrustedProxiesThePeerIsTheClient) {
  EXPECT_EQ("192.0.2.1", ClientAddress("192.0.2.1", {"X-Forwarded-For: 198.51.100.7"}, {}));
  EXPECT_EQ("192.0.2.1", ClientAddress("::ffff:192.0.2.1", {}, {}));
}

// A proxy that holds the certificate speaks plain HTTP to the service; the
// scheme the client used is its word, and only its word.
TEST(ClientSchemeTest, ForwardedProtoCountsOnlyFromATrustedProxy) {
  const std::vector<std::string> trusted = {"127.0.0.1"};
  const struct {
    const char* peer;
    std::vector<std::string> headers;
    const char* scheme;
  } cases[] = {
      {"127.0.0.1", {"X-Forwarded-Proto: https"}, "https"},
      {"::ffff:127.0.0.1", {"x-forwarded-proto:https "}, "https"},
      {"127.0.0.1", {"X-Forwarded-Proto: http, https"}, "https"},  // the proxy's own value is the last
      {"127.0.0.1", {"X-Forwarded-Proto: https", "X-Forwarded-Proto: http"}, "http"},
      {"127.0.0.1", {"X-Forwarded-Proto: ftp"}, "http"},
      {"127.0.0.1", {"X-Forwarded-Proto: HTTPS"}, "http"},
      {"127.0.0.1", {}, "http"},
      {"192.0.2.9", {"X-Forwarded-Proto: https"}, "http"},  // any other peer could write anything
      {"not an address", {"X-Forwarded-Proto: https"}, "http"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.scheme, ClientScheme("http", c.peer, c.headers, trusted))
        << c.peer << " " << (c.headers.empty() ? "" : c.headers.back());
  }
  EXPECT_EQ("https", ClientScheme("https", "192.0.2.9", {"X-Forwarded-Proto: http"}, trusted));
  EXPECT_EQ("http", ClientScheme("http", "127.0.0.1", {"X-Forwarded-Proto: https"}, {}));
}

}  // namespace
}  // namespace pelorin
