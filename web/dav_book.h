// TDavBooks: each user's address book as the DAV front end serves it, kept
// between requests. A sync of 10,000 cards sends about a thousand requests;
// building every card's tree, ETag and vCard text for each of them would make
// the sync cost a thousand times the book. What depends only on one record
// (its name, ETag and vCard text) is kept under the record's version from the
// card index and made again only when that record changed; the book itself
// (its order, its tag, its sync token) is checked against the store's change
// sequence on every request, which costs one look at the user's index.
// Not thread-safe: the owner holds the store lock.
#ifndef PELORIN_WEB_DAV_BOOK_H_
#define PELORIN_WEB_DAV_BOOK_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "service/record_store.h"
#include "vcard/vcard_record.h"
#include "web/dav_sync.h"

namespace pelorin {

// A card as DAV answers show it.
struct TDavCard {
  std::uint64_t Version = 0;  // of the record it was made from
  TNodeRef Node;              // valid while its book is current
  std::string Name;           // the resource name, not encoded
  std::string Id;
  std::string Etag;           // strong, quoted
  std::string DisplayName;    // FN
  std::string Revision;       // REV for a card that has none: when first written
  // The 3.0 text, which nearly every client and export asks for. The 4.0
  // text is made when asked for and not kept: few ask, and keeping it would
  // hold a second copy of every book in memory.
  std::string Vcard30;
};

struct TDavBook {
  std::uint64_t ChangeSequence = 0;  // of the card store when last checked
  std::vector<TDavCard> Cards;       // in store order
  // Views of the cards' names: the vector's elements stay where they are for
  // the life of the book (a moved vector keeps its buffer).
  std::unordered_map<std::string_view, std::size_t> ByName;
  std::string CTag;       // quoted: a digest of every card's name and ETag
  std::string SyncToken;  // the sync log's token after the last look
};

class TDavBooks {
 public:
  // The user's book as the store holds it now. Cards without a UID get one
  // first (a change of the store, counted in `added`); the sync log is shown
  // the book whenever a card in it changed.
  TDavBook& Current(TRecordStore& cards, TDavSyncLog& sync, const std::string& user, std::size_t& added);

  // The card of that resource name in the book, or null.
  static TDavCard* Find(TDavBook& book, const std::string& name);
  // The card as vCard 4.0, made from its record (the book must be current).
  static std::string Vcard40Of(TRecordStore& cards, const TDavCard& card);

 private:
  std::map<std::string, TDavBook> books_;
};

// The name a client gave the card when it put it (RESOURCE), else its ID.
std::string CardNameOf(const TRecordElement& card);

// A strong ETag of a record: the first 16 bytes of the SHA-256 of its tree,
// quoted, so it changes exactly when the record does.
std::string EtagOf(const TRecordElement& card);

}  // namespace pelorin

#endif  // PELORIN_WEB_DAV_BOOK_H_
