// What each store file holds of the journal. A save writes a store's new
// file whole (rename), so after a crash the file is either the one the last
// save of that store completed or the one being saved; the checkpoint file
// names both by size and checksum, with the journal sequence each covers.
// Written (durably) before a save's store files, it tells at the next start
// which entries a store file already holds, so none is applied twice and
// none is skipped, whichever moment a crash hit.
#ifndef PELORIN_SERVICE_JOURNAL_CHECKPOINT_H_
#define PELORIN_SERVICE_JOURNAL_CHECKPOINT_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "service/store_kind.h"

namespace pelorin {

struct TStoreFileMark {
  std::uint64_t Seq = 0;  // the last journal entry the file holds
  std::uint64_t Size = 0;
  std::uint32_t Crc = 0;
  bool Known = false;
  bool operator==(const TStoreFileMark&) const = default;
};

class TJournalCheckpoint {
 public:
  // Reads the file; a missing or unreadable one leaves every mark unknown
  // (a store then holds no entry, as on the first start).
  void Load(const std::string& path);
  // Replaces the file durably. Throws TFileError.
  void Save(const std::string& path) const;

  // The last entry a store file with these bytes holds: the pending save's
  // sequence when the bytes are that save's, else the last completed one's;
  // 0 when neither is known.
  std::uint64_t CoveredSeq(TStoreKind store, std::string_view file_bytes) const;

  // A save of `bytes` covering `seq` is about to be written...
  void SetPending(TStoreKind store, std::uint64_t seq, std::string_view bytes);
  // ...and has been.
  void Complete(TStoreKind store);

  std::uint64_t HighestSeq() const;

  static TStoreFileMark MarkOf(std::uint64_t seq, std::string_view bytes);

 private:
  struct TMarks {
    TStoreFileMark Done;
    TStoreFileMark Pending;
  };
  std::array<TMarks, 3> marks_{};
};

}  // namespace pelorin

#endif  // PELORIN_SERVICE_JOURNAL_CHECKPOINT_H_
