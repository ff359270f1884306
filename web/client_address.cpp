#include "web/client_address.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "web/request_info.h"

namespace pelorin {
namespace {

constexpr char kIPv4Loopback[] = "127.0.0.1";

// inet_pton wants a terminated string; addresses are short, so longer text is no address.
constexpr std::size_t kMaxAddressText = INET6_ADDRSTRLEN + 16;

struct TParsedAddress {
  bool IsV4 = false;
  in_addr V4{};
  in6_addr V6{};
};

std::optional<TParsedAddress> ParseAddress(std::string_view text) {
  // A link-local peer comes with its zone ("fe80::1%eth0"), which inet_pton refuses.
  text = text.substr(0, text.find('%'));
  if (text.empty() || text.size() >= kMaxAddressText) return std::nullopt;
  std::array<char, kMaxAddressText> terminated{};
  std::copy(text.begin(), text.end(), terminated.begin());
  TParsedAddress parsed;
  if (inet_pton(AF_INET, terminated.data(), &parsed.V4) == 1) {
    parsed.IsV4 = true;
    return parsed;
  }
  if (inet_pton(AF_INET6, terminated.data(), &parsed.V6) != 1) return std::nullopt;
  // A dual-stack listener sees IPv4 clients as ::ffff:a.b.c.d; they are IPv4 clients.
  if (IN6_IS_ADDR_V4MAPPED(&parsed.V6)) {
    parsed.IsV4 = true;
    std::memcpy(&parsed.V4, parsed.V6.s6_addr + 12, sizeof parsed.V4);
  }
  return parsed;
}

std::string AddressText(const TParsedAddress& address) {
  std::array<char, INET6_ADDRSTRLEN> text{};
  if (address.IsV4) {
    inet_ntop(AF_INET, &address.V4, text.data(), text.size());
  } else {
    inet_ntop(AF_INET6, &address.V6, text.data(), text.size());
  }
  return text.data();
}

std::string_view TrimSpacesAndTabs(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Some proxies write "[2001:db8::1]:4711" or "192.0.2.1:4711"; the port says
// nothing about the client.
std::string_view WithoutPort(std::string_view entry) {
  if (entry.starts_with('[')) {
    const std::size_t close = entry.find(']');
    return close == std::string_view::npos ? entry : entry.substr(1, close - 1);
  }
  const std::size_t colon = entry.find(':');
  if (colon != std::string_view::npos && entry.find(':', colon + 1) == std::string_view::npos) {
    return entry.substr(0, colon);
  }
  return entry;
}

bool IsTrusted(const std::string& address, const std::vector<std::string>& trusted_proxies) {
  return std::find(trusted_proxies.begin(), trusted_proxies.end(), address) != trusted_proxies.end();
}

std::string ForwardedFor(const std::vector<std::string>& headers) {
  std::string joined;
  for (const std::string& line : headers) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || !EqualsIgnoringCase(std::string_view(line).substr(0, colon), "X-Forwarded-For")) {
      continue;
    }
    if (!joined.empty()) joined += ',';
    joined += TrimSpacesAndTabs(std::string_view(line).substr(colon + 1));
  }
  return joined;
}

}  // namespace

std::optional<std::string> CanonicalAddress(std::string_view text) {
  const std::optional<TParsedAddress> parsed = ParseAddress(text);
  if (!parsed) return std::nullopt;
  return AddressText(*parsed);
}

// One person rarely has more than one IPv4 address at hand, but is given a whole
// /64 with IPv6 and may pick a fresh address in it for every request; so a /64
// counts as one client. The IPv6 loopback address is the local host's own, as
// 127.0.0.1 is, and a local client reaches the server by either as it pleases
// ("localhost" names both), so ::1 counts as 127.0.0.1.
std::string AddressGroup(std::string_view address) {
  std::optional<TParsedAddress> parsed = ParseAddress(address);
  if (!parsed) return std::string(address);
  if (parsed->IsV4) return AddressText(*parsed);
  if (IN6_IS_ADDR_LOOPBACK(&parsed->V6)) return kIPv4Loopback;
  std::memset(parsed->V6.s6_addr + 8, 0, 8);
  return AddressText(*parsed) + "/64";
}

// X-Forwarded-For is written by every proxy on the way, each appending the
// address it received from; all but the entries of the proxies trusted here may
// be made up by the client. So the list is read from the right, and only as far
// as trusted proxies wrote it.
std::string ClientScheme(std::string_view listener_scheme, std::string_view peer_address,
                         const std::vector<std::string>& headers, const std::vector<std::string>& trusted_proxies) {
  const std::optional<std::string> peer = CanonicalAddress(peer_address);
  if (!peer || trusted_proxies.empty() || !IsTrusted(*peer, trusted_proxies)) return std::string(listener_scheme);
  std::string_view last;
  for (const std::string& line : headers) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string_view name = TrimSpacesAndTabs(std::string_view(line).substr(0, colon));
    if (name.size() != 17) continue;
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (lower == "x-forwarded-proto") last = std::string_view(line).substr(colon + 1);
  }
  const std::size_t comma = last.rfind(',');
  const std::string_view value = TrimSpacesAndTabs(comma == std::string_view::npos ? last : last.substr(comma + 1));
  if (value == "https" || value == "http") return std::string(value);
  return std::string(listener_scheme);
}

std::string ClientAddress(std::string_view peer_address, const std::vector<std::string>& headers,
                          const std::vector<std::string>& trusted_proxies) {
  const std::optional<std::string> peer = CanonicalAddress(peer_address);
  if (!peer) return std::string(peer_address);
  if (trusted_proxies.empty() || !IsTrusted(*peer, trusted_proxies)) return *peer;
  const std::string forwarded = ForwardedFor(headers);
  std::string_view rest = forwarded;
  while (!rest.empty()) {
    const std::size_t comma = rest.rfind(',');
    const std::string_view entry = comma == std::string_view::npos ? rest : rest.substr(comma + 1);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(0, comma);
    const std::optional<std::string> hop = CanonicalAddress(WithoutPort(TrimSpacesAndTabs(entry)));
    if (!hop) return *peer;
    if (!IsTrusted(*hop, trusted_proxies)) return *hop;
  }
  return *peer;
}

}  // namespace pelorin
