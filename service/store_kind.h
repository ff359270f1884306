// Which of the three stores a request addresses, by the start of its path.
#ifndef PELORIN_SERVICE_STORE_KIND_H_
#define PELORIN_SERVICE_STORE_KIND_H_

#include <string_view>

namespace pelorin {

enum class TStoreKind { Cards, Users, Config };

// "/user/..." the accounts, "/config/..." the configuration, every other path
// the cards. Only the prefixes with their "/" count: "/user" alone is a card path.
inline TStoreKind StoreKindForPath(std::string_view path) {
  if (path.starts_with("/user/")) return TStoreKind::Users;
  if (path.starts_with("/config/")) return TStoreKind::Config;
  return TStoreKind::Cards;
}

}  // namespace pelorin

#endif  // PELORIN_SERVICE_STORE_KIND_H_
