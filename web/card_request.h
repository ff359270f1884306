// What every request of the card area checks the same way: the owner name a
// signed-in user's cards carry, and a card ID taken from a query.
#ifndef PELORIN_WEB_CARD_REQUEST_H_
#define PELORIN_WEB_CARD_REQUEST_H_

#include <string>
#include <string_view>

namespace pelorin {

// OWNER holds the user name in lower case, whatever case the user signs in with.
inline std::string OwnerNameOf(std::string user) {
  for (char& c : user) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return user;
}

// Digits only (as the service makes IDs), so that it can stand in a query as it is.
inline bool IsCardId(std::string_view id) {
  if (id.empty() || id.size() > 32) return false;
  for (const char c : id) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// REV for a card that has none: the time of the download, in UTC (web/vcard_export.cpp).
std::string RevisionNow();

}  // namespace pelorin

#endif  // PELORIN_WEB_CARD_REQUEST_H_
