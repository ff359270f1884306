// TRecordStore: one store of the service (the cards, the accounts or the
// configuration) with its document, its record-ID index and a change sequence,
// and the record operations every change goes through, from any front end.
// The rules that keep users apart and every saved store loadable live here
// once: in the card store a user reaches only the records that user owns, and
// only the service writes OWNER there; a fragment that breaks a bound is
// refused before anything changes. Not thread-safe: the owner holds the store
// lock for every call.
#ifndef PELORIN_SERVICE_RECORD_STORE_H_
#define PELORIN_SERVICE_RECORD_STORE_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/card_index.h"
#include "service/journal_entry.h"
#include "service/record_ids.h"
#include "service/store_kind.h"
#include "service/upload_report.h"
#include "vcard/vcard_record.h"
#include "xml/quickdom.h"
#include "xml/xml_fragment.h"

namespace pelorin {

// What a record operation did. Status Done: `Changed` records were added,
// replaced or removed. Malformed: the fragment is not well-formed XML
// (ErrorText holds the parser's messages). Refused: the change breaks a rule
// or bound (Message says which); Failed: it could not be made (Message);
// NotDurable: it could not be written to the journal (Message says why). In
// every case but Done the store is as it was before the call.
struct TRecordOutcome {
  enum class TStatus { Done, Malformed, Refused, Failed, NotDurable };
  TStatus Status = TStatus::Done;
  std::string Message;
  std::string ErrorText;
  std::size_t Changed = 0;
  std::string Query;  // the XPath as evaluated, the owner condition included
  std::string LastRecordXml;  // uploads: the record text of the last pass
  explicit operator bool() const { return Status == TStatus::Done; }
};

class TRecordStore;

// Where a store's changes go before they count: the service's journal.
class TRecordJournal {
 public:
  virtual ~TRecordJournal() = default;
  // Whether a change can be written now; false with the reason.
  virtual bool Ready(std::string& error) = 0;
  // Writes the entry of a change the store has just made; false with the
  // reason when it cannot be written.
  virtual bool Record(TJournalEntry& entry, std::string& error) = 0;
  // Brings the store back to what its file and the journal hold, after a
  // change that could not be recorded.
  virtual void Restore(TRecordStore& store) = 0;
};

class TRecordStore {
 public:
  TRecordStore(TStoreKind kind, std::string url_path);
  TRecordStore(const TRecordStore&) = delete;
  TRecordStore& operator=(const TRecordStore&) = delete;

  TStoreKind Kind() const { return kind_; }
  // The store's file in URL form below the application directory.
  const std::string& UrlPath() const { return url_path_; }

  // The document for reading: queries, the cursor, rendering, and the
  // account check's logout marker, which is no record change. Every record
  // change goes through the operations below.
  TQuickDom& Dom() { return dom_; }

  int LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path) { dom_.SaveToFile(path); }

  // Moves with every change the operations below make (never back), so what
  // is derived from the records can be kept while it stands still.
  std::uint64_t ChangeSequence() const { return change_sequence_; }

  // Removes what `xpath` selects, all or nothing. `owner` is the lower-cased
  // name of the user asking; in the card store "[OWNER="owner"]" is appended
  // and only records that user owns are removed: what else the XPath selects
  // is passed over as if it selected nothing.
  TRecordOutcome DeleteSelected(const std::string& xpath, const std::string& owner);
  // Replaces the first record `xpath` selects (in the card store: the first
  // the owner owns) by the fragment, appended at the end and marked with the
  // owner; it keeps the ID the fragment carries. Selecting nothing is Done
  // with Changed 0.
  TRecordOutcome ReplaceRecord(const std::string& xpath, const std::string& xml, const std::string& owner);
  // Appends the fragment as a new record marked with the owner and a new ID,
  // which replaces the first ID the fragment carries.
  TRecordOutcome InsertRecord(const std::string& xml, const std::string& owner);
  // Inserts every card of an uploaded vCard text as InsertRecord does. Each
  // card stands alone: one that is not well-formed or breaks a bound is
  // refused and passed over, and the others come in (Done, Changed counting
  // them). `report`, when given, says card by card what happened. A card the
  // store cannot hold at all (Failed) takes the cards before it out again.
  // LastRecordXml is the record text of the reader's last pass, or empty when
  // that card was refused.
  TRecordOutcome InsertUpload(std::string_view text, const std::string& owner, TUploadReport* report = nullptr);
  // Removes the owner's cards that carry one of `ids` (the undo of an
  // upload); an ID no card of the owner carries is passed over.
  TRecordOutcome DeleteCards(const std::vector<std::string>& ids, const std::string& owner);
  // Merges two of the owner's cards in one change: the card whose ID is
  // `keep_id` is replaced by the fragment, which is given that ID, and the
  // card whose ID is `other_id` is removed. Refused unless both are the
  // owner's and they differ.
  TRecordOutcome MergeCards(const std::string& keep_id, const std::string& other_id, const std::string& xml,
                            const std::string& owner);

  // The user store keeps no password in clear text. Every PASSWORD element a
  // fragment brings into it (insert or replace, through any page or command)
  // is taken as a new password and stored as its hash; a replacement without
  // a non-empty PASSWORD keeps the record's old one. The journal is given the
  // hashed fragment, never the posted text.

  // Replaces every clear-text PASSWORD of the user store by its hash (stores
  // written by older versions); returns how many. Not journaled: the store
  // file still holds the clear texts, so a start after a crash does it again.
  std::size_t HashClearPasswords();
  // The PASSWORD texts of the accounts whose USER is `user` in any case.
  std::vector<std::string> StoredPasswordsOf(const std::string& user);
  // Replaces the stored PASSWORD `old_stored` of the accounts named `user` by
  // `new_hash` (an older scheme made again as yescrypt after a sign-in). Not
  // journaled: the older hash still verifies, so losing it loses nothing.
  void UpgradePassword(const std::string& user, const std::string& old_stored, const std::string& new_hash);

  // The owner's cards (or the one whose ID is `id`, when it is not empty) as
  // trees, in store order, each with a UID: a card without one gets a random
  // "urn:uuid:..." stored first, so that it keeps it from then on. `added`
  // counts those (each a change).
  std::vector<TRecordElement> OwnCardsWithUids(const std::string& owner, const std::string& id, std::size_t& added);
  // The same cards as references into the store, from the card index: what
  // is derived from a card can be kept under its version. The nodes are valid
  // until the next change.
  std::vector<TCardRef> OwnCardRefsWithUids(const std::string& owner, const std::string& id, std::size_t& added);
  // The owner's cards in store order, as they are (no UID given); only the
  // one whose ID is `id`, when it is not empty.
  std::vector<TCardRef> OwnCards(const std::string& owner, const std::string& id = "");
  // The tree of a card record the index gave.
  std::optional<TRecordElement> CardTree(TNodeRef card);

  // An ID that no card of the store carries, from RecordClock (while a
  // journal entry is replayed: the next ID it recorded).
  std::string NewRecordId();

  // Every change that succeeds is recorded there before the operation
  // returns; without a journal changes are made in memory only.
  void SetJournal(TRecordJournal* journal) { journal_ = journal; }
  // Runs a journal entry's operation again, with the IDs and UIDs it drew
  // the first time, and records nothing.
  TRecordOutcome Replay(const TJournalEntry& entry);

  // Test seams: the clock of the record IDs, and a look at each uploaded
  // card's XML before it is inserted, which may change it.
  TLocalClock RecordClock = LocalNanosecondsSince1899;
  std::function<void(std::string& card_xml)> UploadCardSeam;

 private:
  // Parses and checks a fragment for this store; OWNER goes from card records.
  bool Prepare(const std::string& xml, TXmlFragment& fragment, TRecordOutcome& outcome);
  // Appends a prepared fragment with its OWNER (and ID when `new_id`); the
  // cursor ends on the new record. Throws when the store cannot hold it.
  // `given_id`, when set, receives the new ID.
  TNodeRef Append(const TXmlFragment& fragment, const std::string& owner, bool new_id,
                  std::string* given_id = nullptr);
  // Removes records, telling the ID index and, when it was current before
  // the change began (`cards_current`), the card index; false with the
  // outcome set when the document refused, in which case nothing was removed.
  bool RemoveRecords(const std::vector<TNodeRef>& doomed, bool cards_current, TRecordOutcome& outcome);
  // The owner's card whose ID is `id`, or null.
  TNodeRef OwnCardWithId(const std::string& owner, const std::string& id);
  // Whether the node at `node` is a record of the card store owned by `owner`.
  bool IsOwnRecord(TNodeRef node, const std::string& owner);
  // Whether one of the record's ID children is `id`.
  bool HasId(TNodeRef record, const std::string& id);
  void Changed() { ++change_sequence_; }
  // Before a change: false (with the outcome set) when the journal cannot
  // take one now, so that nothing is changed.
  bool BeginChange(TRecordOutcome& outcome);
  // After a change that succeeded: writes its entry. When that fails the
  // store is restored and the outcome becomes NotDurable.
  void RecordChange(TJournalOp op, const std::string& owner, std::string_view xpath, std::string_view text,
                    TRecordOutcome& outcome);
  std::string NewUuid();
  // The user store's password rule for a prepared fragment: hashes its
  // PASSWORD texts and, for a replacement (`old` set) without one, carries the
  // old record's over. `journal_text` becomes the fragment's text when it
  // changed. False with the outcome set when no hash could be made.
  bool ApplyPasswordRule(TXmlFragment& fragment, TNodeRef old, std::string& journal_text, TRecordOutcome& outcome);

  const TStoreKind kind_;
  const std::string url_path_;
  TQuickDom dom_;
  TRecordIdIndex ids_;
  TCardIndex cards_;  // the card store's records by owner
  std::uint64_t change_sequence_ = 0;

  TRecordJournal* journal_ = nullptr;
  std::vector<std::string> drawn_ids_;    // by the change under way
  std::vector<std::string> drawn_uuids_;
  std::deque<std::string> replay_ids_;    // of the entry being replayed
  std::deque<std::string> replay_uuids_;
  bool replaying_ = false;  // a journal entry holds its passwords hashed already
};

}  // namespace pelorin

#endif  // PELORIN_SERVICE_RECORD_STORE_H_
