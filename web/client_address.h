// Which client a request came from, as the sign-in throttle counts it: the
// address behind a trusted front proxy, and the group of addresses one client
// can choose among. Pure functions, called on the connection's thread.
#ifndef PELORIN_WEB_CLIENT_ADDRESS_H_
#define PELORIN_WEB_CLIENT_ADDRESS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin {

// The usual text of an IPv4 or IPv6 address ("192.0.2.1", "2001:db8::1"); an
// IPv4-mapped IPv6 address gives its IPv4 address, and a zone ("%eth0") is
// dropped. Nothing when the text is no address (a host name, a port, brackets).
std::optional<std::string> CanonicalAddress(std::string_view text);

// The group in which a client's sign-in failures count: an IPv4 address alone
// (IPv4-mapped ones included), an IPv6 address by its /64 prefix
// ("2001:db8:1:2::/64"), and ::1 as 127.0.0.1. Text that is no address is a group
// of its own, as given.
std::string AddressGroup(std::string_view address);

// The address of the client that sent a request. When the peer is one of the
// `trusted_proxies` (canonical addresses), the X-Forwarded-For header lines
// (joined in order) are read from the right: the first entry that is not itself
// a trusted proxy is the client. An entry that is no address, a list of trusted
// proxies only, or an untrusted peer: the peer address.
std::string ClientAddress(std::string_view peer_address, const std::vector<std::string>& headers,
                          const std::vector<std::string>& trusted_proxies);

// The scheme the client used. A trusted proxy that holds the TLS certificate
// speaks plain HTTP to the service and says "https" in X-Forwarded-Proto (the
// last value of its last line counts: the proxy's own); from any other peer,
// or with another value, the listener's scheme stands.
std::string ClientScheme(std::string_view listener_scheme, std::string_view peer_address,
                         const std::vector<std::string>& headers, const std::vector<std::string>& trusted_proxies);

}  // namespace pelorin

#endif  // PELORIN_WEB_CLIENT_ADDRESS_H_
