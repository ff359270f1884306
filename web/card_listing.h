// TCardListings: the card list page of one user, a page at a time. The list
// is searched, sorted and cut into pages here, from the user's cards alone
// (the card index), and the stylesheet is given only the cards of the page and
// a LISTING element that says where the page stands: so a list of 50,000
// cards costs what its page costs, whatever other users hold. What a card
// contributes (its sort keys, the text the search looks at) is kept under the
// card's version and made again only when the card changed; each sort order
// is kept until the user's cards change. Not thread-safe: the owner holds the
// store lock.
#ifndef PELORIN_WEB_CARD_LISTING_H_
#define PELORIN_WEB_CARD_LISTING_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "service/record_store.h"

namespace pelorin {

inline constexpr std::size_t kDefaultPageSize = 100;
inline constexpr std::size_t kMinPageSize = 10;
inline constexpr std::size_t kMaxPageSize = 500;

enum class TListingSort { Family = 0, Given = 1, Organisation = 2 };

struct TListingRequest {
  std::string Query;  // the search text as typed; empty lists every card
  TListingSort Sort = TListingSort::Family;
  std::size_t Page = 1;  // counted from 1; past the last page means the last
  std::size_t PageSize = kDefaultPageSize;
};

// The request's fields q, sort ("family", "given", "org"), page and size;
// what is missing or not understood takes its default, a size is kept within
// kMinPageSize and kMaxPageSize.
TListingRequest ListingRequestOf(const std::vector<std::string>& fields);

// Where a letter of the index starts: the page of its first card.
struct TListingLetter {
  std::string Letter;  // "A" to "Z", or "#" for names that start otherwise
  std::size_t Page = 1;
};

struct TListingPage {
  TListingRequest Request;  // as understood
  std::size_t Total = 0;     // the user's cards
  std::size_t Matching = 0;  // of them, those the search finds
  std::size_t First = 0;     // the range shown, counted from 1 (0 when none)
  std::size_t Last = 0;
  std::size_t Page = 1;
  std::size_t Pages = 1;
  std::vector<TNodeRef> Cards;  // the page's cards, in order
  std::vector<TListingLetter> Letters;

  // The LISTING element the stylesheet reads, every text escaped.
  std::string Xml() const;
};

class TCardListings {
 public:
  TListingPage Page(TRecordStore& cards, const std::string& owner, const TListingRequest& request);

 private:
  struct TEntry {
    std::uint64_t Version = 0;
    TNodeRef Node;
    std::array<std::string, 3> Keys;     // folded, by TListingSort
    std::array<char, 3> Letters;         // of each key: 'A' to 'Z', or '#'
    std::string Haystack;  // every searched text, folded, one per line
    std::string Digits;    // the phone numbers without separators, one per line
  };
  struct TOwnerListing {
    std::uint64_t ChangeSequence = 0;
    bool Built = false;
    std::vector<TEntry> Entries;  // in store order
    std::array<std::vector<std::uint32_t>, 3> Orders;  // made when first asked for
  };
  void Refresh(TRecordStore& cards, const std::string& owner, TOwnerListing& listing);
  const std::vector<std::uint32_t>& Order(TOwnerListing& listing, TListingSort sort);

  std::map<std::string, TOwnerListing> owners_;
};

// Makes `document` the one the card list page is rendered over: the
// document element of the card store holding the page's cards, in order,
// then the page's LISTING element.
void LoadListingDocument(TRecordStore& cards, TCardListings& listings, const std::string& owner,
                         const std::vector<std::string>& fields, TQuickDom& document);

// The text with white space runs made one blank and none at either end, as
// XPath's normalize-space does.
std::string NormalizedSpace(std::string_view text);

// Text as the list sorts and searches it: lower case, and the accented
// letters of Latin-1 as their plain letters, so that "Élise" is found by
// "elise" and listed beside "Elise".
std::string FoldedForListing(std::string_view text);

}  // namespace pelorin

#endif  // PELORIN_WEB_CARD_LISTING_H_
