// Likely duplicates among one user's cards, and the merge of two of them.
// Pure functions over card trees, and the documents the duplicates page and
// the merge confirmation are rendered over. Not thread-safe where a store is
// involved: the owner holds the store lock.
#ifndef PELORIN_WEB_CARD_DUPLICATES_H_
#define PELORIN_WEB_CARD_DUPLICATES_H_

#include <cstddef>
#include <string>
#include <vector>

#include "service/record_store.h"
#include "vcard/vcard_record.h"
#include "xml/quickdom.h"

namespace pelorin {

// Why cards were grouped: the kind ("e-mail", "phone", "name") and the
// value they share, as the first of them writes it.
struct TDuplicateReason {
  std::string Kind;
  std::string Value;
};

// Cards (indexes into the list searched, in its order) that share an e-mail
// address, a phone number or a name with another card of the group.
struct TDuplicateGroup {
  std::vector<std::size_t> Cards;
  std::vector<TDuplicateReason> Reasons;
};

// Groups in the order of their first card. E-mail addresses and names are
// compared folded for case and Latin-1 accents (as the card list searches),
// names by FN and by N's given, middle and family name; phone numbers by
// their digits alone, when they have at least kMinPhoneDigits of them (an
// extension alone says little).
inline constexpr std::size_t kMinPhoneDigits = 6;
std::vector<TDuplicateGroup> FindDuplicates(const std::vector<TRecordElement>& cards);

// `kept` with every property of `other` it does not already hold, so that
// nothing of either is lost: every TEL, EMAIL, ADR, PHOTO... of both (each
// with the PARAMS that follow it). Where a card may hold a property once:
// the other's FN and N become NICKNAMEs, another BDAY, CLASS, SORT-STRING,
// KIND, GENDER or ANNIVERSARY a PROP named X-MERGED-<name>. The result keeps
// `kept`'s ID and UID; the other's ID, UID, OWNER, RESOURCE (its CardDAV
// name, which goes with it), VERSION, PRODID and REV describe the other
// record, not the person, and are left out.
TRecordElement MergedCard(const TRecordElement& kept, const TRecordElement& other);

// The record's XML, every text escaped.
std::string RecordXml(const TRecordElement& record);

// The duplicates page's document: the card store's document element holding
// the owner's cards that are in a group, then a DUPLICATES element with one
// GROUP per group (WHY with KIND and VALUE, then one CARD per card: its ID).
void LoadDuplicatesDocument(TRecordStore& cards, const std::string& owner, TQuickDom& document);

// The merge confirmation's document: the two cards (when they are the
// owner's), then MERGE holding KEEP, OTHER and the merged vCard.
void LoadMergeDocument(TRecordStore& cards, const std::string& owner, const std::string& keep_id,
                       const std::string& other_id, TQuickDom& document);

// The two cards' trees, when both are the owner's and differ.
bool OwnCardPair(TRecordStore& cards, const std::string& owner, const std::string& keep_id,
                 const std::string& other_id, TRecordElement& kept, TRecordElement& other);

}  // namespace pelorin

#endif  // PELORIN_WEB_CARD_DUPLICATES_H_
