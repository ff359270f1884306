// One record change as the journal holds it, and the journal file's framing.
// An entry says which gate operation ran with which arguments, and every
// record ID and UUID the operation drew, so that running it again on the
// same store gives the same records, IDs and owners. On disk each entry is
//   "PJ1 <seq> <payload bytes> <crc32, hex>\n" <payload> "\n"
// where the CRC covers the sequence (as written) and the payload
// so that a tail torn by a crash in mid-append, or damaged later, is found
// and cut at the last whole entry.
#ifndef PELORIN_SERVICE_JOURNAL_ENTRY_H_
#define PELORIN_SERVICE_JOURNAL_ENTRY_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "service/store_kind.h"

namespace pelorin {

enum class TJournalOp { Delete, Replace, Insert, Upload, Uids, DeleteCards, Merge };

struct TJournalEntry {
  std::uint64_t Seq = 0;
  TStoreKind Store = TStoreKind::Cards;
  TJournalOp Op = TJournalOp::Insert;
  std::string Owner;
  // Delete, Replace; Uids: the one card's ID, or empty for all; Merge: the
  // kept card's ID, a line break, the ID of the card merged into it
  std::string XPath;
  // Replace, Insert, Merge: the fragment; Upload: the vCard text;
  // DeleteCards: the IDs, one a line
  std::string Text;
  std::vector<std::string> Ids;    // record IDs drawn, in order
  std::vector<std::string> Uuids;  // UIDs drawn, in order
  bool operator==(const TJournalEntry&) const = default;
};

// CRC-32 (zlib's) of any number of bytes, going on from `crc` (the CRC of
// the bytes before them; 0 for none).
std::uint32_t JournalCrc32(std::string_view bytes, std::uint32_t crc = 0);

// The entry framed for the file.
std::string EncodeJournalEntry(const TJournalEntry& entry);

// What a journal file holds: its whole entries in order, and where they end.
// `ValidBytes` < the text's size means a damaged tail from there on.
struct TJournalContents {
  std::vector<TJournalEntry> Entries;
  std::size_t ValidBytes = 0;
};
TJournalContents DecodeJournal(std::string_view text);

}  // namespace pelorin

#endif  // PELORIN_SERVICE_JOURNAL_ENTRY_H_
