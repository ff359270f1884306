// Writes a card record as one vCard 3.0 (RFC 2426) or 4.0 (RFC 6350) in
// UTF-8, lines ended by CR LF and folded at 75 octets. Pure; safe on any
// thread.
//
// BEGIN and VERSION come first, then one property per element in the
// record's order, then END. What is written:
// - mapped elements (FN, N, TEL, ADR, PHOTO...) as their properties, markers
//   as TYPE values, the PARAMS element right after one merged into it;
// - PROP as the property it holds, value as stored;
// - OWNER and ID (the store's own) and VERSION (the version the card came
//   in) are never written;
// - any other element a user put into the record: a leaf with text as
//   X-PELORIN-<name>, so that it survives an export; containers and empty
//   leaves are skipped, having no one value to write. A PARAMS that follows
//   no mapped element is skipped too.
// - FN when the card has none (made from N, else ORG) and, in 3.0, "N:;;;;"
//   when it has no N, both right after VERSION; UID and REV from `defaults`
//   when the card has none, at the end. An empty default is not written.
#ifndef PELORIN_VCARD_VCARD_WRITER_H_
#define PELORIN_VCARD_VCARD_WRITER_H_

#include <string>

#include "vcard/vcard_record.h"
#include "vcard/vcard_version.h"

namespace pelorin {

struct TWriteDefaults {
  std::string Uid;
  std::string Rev;
};

// `card` is the record's vCard element; only its children are read.
std::string WriteVCard(const TRecordElement& card, TvCardVersion version,
                       const TWriteDefaults& defaults);

}  // namespace pelorin

#endif  // PELORIN_VCARD_VCARD_WRITER_H_
