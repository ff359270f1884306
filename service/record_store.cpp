#include "service/record_store.h"

#include <cstdio>
#include <algorithm>
#include <exception>
#include <random>
#include <unordered_set>
#include <utility>

#include "service/password_hash.h"
#include "vcard/vcard_record_builder.h"
#include "vcard/vcard_text.h"
#include "xml/record_tree.h"
#include "vcard/vcard_upload_reader.h"

namespace pelorin {
namespace {

constexpr char kOwnerName[] = "OWNER";
constexpr char kIdName[] = "ID";
constexpr char kPasswordName[] = "PASSWORD";
constexpr char kAccountsXPath[] = "/*/User";

TRecordOutcome Outcome(TRecordOutcome::TStatus status, std::string message) {
  TRecordOutcome outcome;
  outcome.Status = status;
  outcome.Message = std::move(message);
  return outcome;
}

}  // namespace

TRecordStore::TRecordStore(TStoreKind kind, std::string url_path) : kind_(kind), url_path_(std::move(url_path)) {}

int TRecordStore::LoadFromFile(const std::string& path) {
  Changed();
  return dom_.LoadFromFile(path);
}

bool TRecordStore::IsOwnRecord(TNodeRef node, const std::string& owner) {
  const TNodeRef kept = dom_.CurrentNode();
  dom_.SetCurrentNode(node);
  bool owned = false;
  if (dom_.CurrentIsRecord() && dom_.SelectFirstChild()) {
    for (bool found = dom_.SelectSibling(kOwnerName); found && !owned; found = dom_.SelectNextSibling(kOwnerName)) {
      owned = dom_.GetText() == owner;
    }
  }
  dom_.SetCurrentNode(kept);
  return owned;
}

bool TRecordStore::Prepare(const std::string& xml, TXmlFragment& fragment, TRecordOutcome& outcome) {
  std::string ErrorText;
  if (!fragment.Parse(xml, TFragmentLimits{}, ErrorText)) {
    outcome.Status = fragment.Problem().empty() ? TRecordOutcome::TStatus::Malformed : TRecordOutcome::TStatus::Refused;
    outcome.Message = fragment.Problem();
    outcome.ErrorText = std::move(ErrorText);
    return false;
  }
  if (!dom_.CanHoldMarkup(fragment.MaxMarkupCodePoint())) {
    outcome = Outcome(TRecordOutcome::TStatus::Refused,
                      "The store's file encoding cannot hold a character of the record's element names, "
                      "comments or CDATA sections.");
    return false;
  }
  // Ownership in the card store is the service's to say: a posted OWNER
  // would plant the card in another user's list.
  if (kind_ == TStoreKind::Cards) fragment.RemoveTopChildren(kOwnerName);
  return true;
}

TNodeRef TRecordStore::Append(const TXmlFragment& fragment, const std::string& owner, bool new_id,
                              std::string* given_id) {
  ids_.Refresh(dom_);
  dom_.SelectRoot();
  dom_.AppendFragment(fragment);
  const TNodeRef record = dom_.CurrentNode();
  const bool is_card = IsCardRecord(dom_);
  // The record's own first ID counts in the collision test, as it is in the store.
  if (is_card) ids_.Add(FirstIdOf(dom_));
  dom_.AddChild(kOwnerName);
  dom_.SetText(owner);
  ids_.Commit(dom_);
  if (!new_id) {
    dom_.SetCurrentNode(record);
    return record;
  }

  const std::string fragment_id = is_card ? (dom_.SetCurrentNode(record), FirstIdOf(dom_)) : std::string();
  const std::string id = NewRecordId();
  if (given_id != nullptr) *given_id = id;
  dom_.SetCurrentNode(record);
  if (dom_.SelectFirstChild() && dom_.SelectSibling(kIdName)) {
    dom_.RemoveCurrent();  // the cursor returns to the record
  } else {
    dom_.SetCurrentNode(record);
  }
  dom_.AddChild(kIdName);
  dom_.SetText(id);
  if (is_card) {
    // A fragment with two IDs keeps its second one, which is now the first.
    ids_.Remove(fragment_id);
    dom_.SetCurrentNode(record);
    ids_.Add(FirstIdOf(dom_));
  }
  ids_.Commit(dom_);
  dom_.SetCurrentNode(record);
  return record;
}

bool TRecordStore::ApplyPasswordRule(TXmlFragment& fragment, TNodeRef old, std::string& journal_text,
                                     TRecordOutcome& outcome) {
  if (kind_ != TStoreKind::Users || replaying_) return true;
  std::size_t given = 0;
  try {
    const std::size_t found = fragment.ChangeElementTexts(kPasswordName, [&](const std::string& clear) {
      if (clear.empty()) return clear;
      ++given;
      return HashPassword(clear);
    });
    if (old && given == 0) {
      // Left empty: the password stays as it was.
      fragment.RemoveEmptyElements(kPasswordName);
      dom_.SetCurrentNode(old);
      if (dom_.SelectFirstChild()) {
        for (bool more = dom_.SelectSibling(kPasswordName); more; more = dom_.SelectNextSibling(kPasswordName)) {
          fragment.AppendTopChild(kPasswordName, dom_.GetText());
        }
      }
      dom_.SetCurrentNode(old);
      journal_text = fragment.Serialize();
    } else if (found > 0) {
      journal_text = fragment.Serialize();
    }
  } catch (const std::exception& e) {
    outcome = Outcome(TRecordOutcome::TStatus::Failed, e.what());
    return false;
  }
  return true;
}

std::size_t TRecordStore::HashClearPasswords() {
  const std::string xpath = std::string(kAccountsXPath) + "/" + kPasswordName;
  std::vector<TNodeRef> clear;
  for (bool found = dom_.SelectNode(xpath); found; found = dom_.SelectNextNode(xpath)) {
    const std::string text = dom_.GetText();
    if (!text.empty() && !IsPasswordHash(text)) clear.push_back(dom_.CurrentNode());
  }
  for (const TNodeRef node : clear) {
    dom_.SetCurrentNode(node);
    dom_.SetText(HashPassword(dom_.GetText()));
  }
  if (!clear.empty()) Changed();
  return clear.size();
}

std::vector<std::string> TRecordStore::StoredPasswordsOf(const std::string& user) {
  std::vector<std::string> stored;
  const std::string wanted = LowerAscii(user);
  for (bool found = dom_.SelectNode(kAccountsXPath); found; found = dom_.SelectNextNode(kAccountsXPath)) {
    const TNodeRef record = dom_.CurrentNode();
    if (!dom_.SelectFirstChild()) continue;
    if (LowerAscii(dom_.GetSiblingText("USER")) == wanted) {
      for (bool more = dom_.SelectSibling(kPasswordName); more; more = dom_.SelectNextSibling(kPasswordName)) {
        stored.push_back(dom_.GetText());
      }
    }
    dom_.SetCurrentNode(record);
  }
  return stored;
}

void TRecordStore::UpgradePassword(const std::string& user, const std::string& old_stored,
                                   const std::string& new_hash) {
  const std::string wanted = LowerAscii(user);
  std::vector<TNodeRef> doomed;
  for (bool found = dom_.SelectNode(kAccountsXPath); found; found = dom_.SelectNextNode(kAccountsXPath)) {
    const TNodeRef record = dom_.CurrentNode();
    if (!dom_.SelectFirstChild()) continue;
    if (LowerAscii(dom_.GetSiblingText("USER")) == wanted) {
      for (bool more = dom_.SelectSibling(kPasswordName); more; more = dom_.SelectNextSibling(kPasswordName)) {
        if (dom_.GetText() == old_stored) doomed.push_back(dom_.CurrentNode());
      }
    }
    dom_.SetCurrentNode(record);
  }
  for (const TNodeRef node : doomed) {
    dom_.SetCurrentNode(node);
    dom_.SetText(new_hash);
  }
  if (!doomed.empty()) Changed();
}

bool TRecordStore::RemoveRecords(const std::vector<TNodeRef>& doomed, bool cards_current, TRecordOutcome& outcome) {
  const bool index_current = ids_.Current(dom_);
  std::vector<std::string> removed_ids;
  if (index_current) {
    for (const TNodeRef node : doomed) {
      dom_.SetCurrentNode(node);
      if (IsCardRecord(dom_)) removed_ids.push_back(FirstIdOf(dom_));
    }
  }
  switch (dom_.RemoveNodes(doomed)) {
    case TQuickDom::TRemoval::Done:
      break;
    case TQuickDom::TRemoval::NotRemovable:
      outcome.Status = TRecordOutcome::TStatus::Failed;  // answered with the query alone, as always
      return false;
    case TQuickDom::TRemoval::JoinsTextsPastBound:
      outcome.Status = TRecordOutcome::TStatus::Refused;
      outcome.Message = "the removal would join texts past " + std::to_string(kMaxJoinedTextBytes) + " bytes";
      return false;
  }
  if (index_current) {
    for (const std::string& id : removed_ids) ids_.Remove(id);
    ids_.Commit(dom_);
  }
  if (cards_current) {
    cards_.Removed(doomed);
    cards_.Commit(dom_);
  }
  return true;
}

TNodeRef TRecordStore::OwnCardWithId(const std::string& owner, const std::string& id) {
  const std::vector<TCardRef> refs = OwnCards(owner, id);
  return refs.empty() ? TNodeRef() : refs.front().Node;
}

TRecordOutcome TRecordStore::DeleteSelected(const std::string& xpath, const std::string& owner) {
  const bool own_cards_only = kind_ == TStoreKind::Cards;
  TRecordOutcome outcome;
  outcome.Query = own_cards_only ? xpath + "[OWNER=\"" + owner + "\"]" : xpath;
  if (!BeginChange(outcome)) return outcome;
  // A union in the posted XPath escapes the appended condition, so every match
  // is checked once more; another user's card is passed over exactly as if the
  // XPath had not selected it, so that no answer tells anything about it.
  std::vector<TNodeRef> doomed;
  for (bool found = dom_.SelectNode(outcome.Query); found; found = dom_.SelectNextNode(outcome.Query)) {
    const TNodeRef node = dom_.CurrentNode();
    if (own_cards_only && !IsOwnRecord(node, owner)) continue;
    doomed.push_back(node);
  }
  if (doomed.empty()) return outcome;
  if (!RemoveRecords(doomed, cards_.Current(dom_), outcome)) return outcome;
  outcome.Changed = doomed.size();
  Changed();
  RecordChange(TJournalOp::Delete, owner, xpath, {}, outcome);
  return outcome;
}

TRecordOutcome TRecordStore::ReplaceRecord(const std::string& xpath, const std::string& xml,
                                           const std::string& owner) {
  TRecordOutcome outcome;
  outcome.Query = xpath;
  if (!BeginChange(outcome)) return outcome;
  TNodeRef old;
  for (bool found = dom_.SelectNode(xpath); found && !old; found = dom_.SelectNextNode(xpath)) {
    if (kind_ != TStoreKind::Cards || IsOwnRecord(dom_.CurrentNode(), owner)) old = dom_.CurrentNode();
  }
  if (!old) return outcome;  // an edit that selects nothing changes nothing
  TXmlFragment fragment;
  if (!Prepare(xml, fragment, outcome)) return outcome;
  std::string journal_text = xml;
  if (!ApplyPasswordRule(fragment, old, journal_text, outcome)) return outcome;
  dom_.SetCurrentNode(old);
  const bool old_is_card = IsCardRecord(dom_);
  const std::string old_id = old_is_card ? FirstIdOf(dom_) : std::string();
  const bool index_current = ids_.Current(dom_);
  const bool cards_current = cards_.Current(dom_);
  TNodeRef replacement;
  try {
    replacement = Append(fragment, owner, false);
  } catch (const std::exception& e) {
    return Outcome(TRecordOutcome::TStatus::Failed, e.what());
  }
  dom_.SetCurrentNode(old);
  if (!dom_.RemoveCurrent()) {
    // The document element, say: the replacement would stand beside it.
    dom_.SetCurrentNode(replacement);
    dom_.RemoveCurrent();
    return Outcome(TRecordOutcome::TStatus::Failed, "the node cannot be replaced");
  }
  if (index_current) {
    ids_.Remove(old_id);
    ids_.Commit(dom_);
  }
  if (cards_current) {
    cards_.Removed({old});
    cards_.Added(dom_, replacement);
    cards_.Commit(dom_);
  }
  outcome.Changed = 1;
  Changed();
  RecordChange(TJournalOp::Replace, owner, xpath, journal_text, outcome);
  return outcome;
}

TRecordOutcome TRecordStore::InsertRecord(const std::string& xml, const std::string& owner) {
  TRecordOutcome outcome;
  if (!BeginChange(outcome)) return outcome;
  TXmlFragment fragment;
  if (!Prepare(xml, fragment, outcome)) return outcome;
  std::string journal_text = xml;
  if (!ApplyPasswordRule(fragment, TNodeRef(), journal_text, outcome)) return outcome;
  const bool cards_current = cards_.Current(dom_);
  try {
    const TNodeRef record = Append(fragment, owner, true);
    if (cards_current) {
      cards_.Added(dom_, record);
      cards_.Commit(dom_);
    }
  } catch (const std::exception& e) {
    return Outcome(TRecordOutcome::TStatus::Failed, e.what());
  }
  outcome.Changed = 1;
  Changed();
  RecordChange(TJournalOp::Insert, owner, {}, journal_text, outcome);
  return outcome;
}

// One reader walks the text once, so an upload costs time in proportion to its
// size; with the ID index each insert costs the same however large the store is.
// Whether a card is refused depends on its text and the store's rules alone,
// so the replay of the upload's entry refuses the same cards and gives the
// others the same IDs.
TRecordOutcome TRecordStore::InsertUpload(std::string_view text, const std::string& owner,
                                          TUploadReport* report) {
  TRecordOutcome outcome;
  if (!BeginChange(outcome)) return outcome;
  TUploadReport unused;
  TUploadReport& told = report != nullptr ? *report : unused;
  told = TUploadReport{};
  TvCardUploadReader reader(text);
  std::vector<TNodeRef> added;
  std::size_t card_number = 0;
  const bool cards_current = cards_.Current(dom_);
  // A card the store cannot hold ends the upload and takes the ones before
  // it out again: an upload is one change.
  const auto undo = [&](TRecordOutcome failed) {
    if (!added.empty()) {
      dom_.RemoveNodes(added);  // records of their own, appended with no text between
      Changed();
    }
    // The index never saw the cards taken out again.
    if (cards_current) cards_.Commit(dom_);
    failed.LastRecordXml = std::move(outcome.LastRecordXml);
    told = TUploadReport{};
    return failed;
  };
  while (reader.NextPass(outcome.LastRecordXml)) {
    std::string& xml = outcome.LastRecordXml;
    if (xml.empty()) continue;  // no card start was left in the text
    ++card_number;
    if (UploadCardSeam) UploadCardSeam(xml);
    TUploadedCard card;
    card.Number = card_number;
    card.Name = reader.CardName();
    card.Notes = reader.Notes();
    TXmlFragment fragment;
    TRecordOutcome refused;
    if (xml.size() > kMaxCardBytes) {
      refused.Message = "the card's record has more than " + std::to_string(kMaxCardBytes) + " bytes";
    }
    if (!refused.Message.empty() || !Prepare(xml, fragment, refused)) {
      card.Reason = refused.Message.empty() ? "it is not well-formed XML" : refused.Message;
      told.Refused.push_back(std::move(card));
      xml.clear();  // the form's insert step must not try the refused card again
      continue;
    }
    try {
      added.push_back(Append(fragment, owner, true, &card.Id));
    } catch (const std::exception& e) {
      return undo(Outcome(TRecordOutcome::TStatus::Failed, e.what()));
    }
    told.Added.push_back(std::move(card));
  }
  told.Cards = card_number;
  outcome.Changed = added.size();
  if (added.empty()) return outcome;
  if (cards_current) {
    for (const TNodeRef record : added) cards_.Added(dom_, record);
    cards_.Commit(dom_);
  }
  Changed();
  // One entry for the whole upload: replayed, it gives the same cards.
  RecordChange(TJournalOp::Upload, owner, {}, text, outcome);
  if (!outcome) told = TUploadReport{};
  return outcome;
}

TRecordOutcome TRecordStore::DeleteCards(const std::vector<std::string>& ids, const std::string& owner) {
  TRecordOutcome outcome;
  if (kind_ != TStoreKind::Cards) return Outcome(TRecordOutcome::TStatus::Refused, "only cards are removed by ID");
  if (!BeginChange(outcome)) return outcome;
  const std::unordered_set<std::string> wanted(ids.begin(), ids.end());
  std::vector<TNodeRef> doomed;
  for (const TCardRef& ref : cards_.OwnedBy(dom_, owner)) {
    dom_.SetCurrentNode(ref.Node);
    if (!dom_.SelectFirstChild()) continue;
    for (bool more = dom_.SelectSibling(kIdName); more; more = dom_.SelectNextSibling(kIdName)) {
      if (wanted.contains(dom_.GetText())) {
        doomed.push_back(ref.Node);
        break;
      }
    }
  }
  if (doomed.empty()) return outcome;
  if (!RemoveRecords(doomed, cards_.Current(dom_), outcome)) return outcome;
  outcome.Changed = doomed.size();
  Changed();
  std::string journal_text;
  for (const std::string& id : ids) journal_text += id + "\n";
  RecordChange(TJournalOp::DeleteCards, owner, {}, journal_text, outcome);
  return outcome;
}

TRecordOutcome TRecordStore::MergeCards(const std::string& keep_id, const std::string& other_id,
                                        const std::string& xml, const std::string& owner) {
  TRecordOutcome outcome;
  if (!BeginChange(outcome)) return outcome;
  // A line break would not survive the journal entry, which separates the IDs by one.
  const bool plain_ids = keep_id.find('\n') == std::string::npos && other_id.find('\n') == std::string::npos;
  const TNodeRef kept = kind_ == TStoreKind::Cards && plain_ids ? OwnCardWithId(owner, keep_id) : TNodeRef();
  const TNodeRef other = kept ? OwnCardWithId(owner, other_id) : TNodeRef();
  if (!kept || !other || kept == other) {
    return Outcome(TRecordOutcome::TStatus::Refused, "the cards to merge are not two cards of yours");
  }
  TXmlFragment fragment;
  if (!Prepare(xml, fragment, outcome)) return outcome;
  // The merged card is the kept one: it answers to its ID whatever the fragment says.
  fragment.RemoveTopChildren(kIdName);
  fragment.AppendTopChild(kIdName, keep_id);
  const bool cards_current = cards_.Current(dom_);
  TNodeRef merged;
  try {
    merged = Append(fragment, owner, false);
  } catch (const std::exception& e) {
    return Outcome(TRecordOutcome::TStatus::Failed, e.what());
  }
  // Append left the ID index current; the card index hears of the merged
  // card after the two old ones are gone.
  if (!RemoveRecords({kept, other}, cards_current, outcome)) {
    dom_.SetCurrentNode(merged);
    dom_.RemoveCurrent();
    Changed();
    return outcome;
  }
  if (cards_current) {
    cards_.Added(dom_, merged);
    cards_.Commit(dom_);
  }
  outcome.Changed = 2;
  Changed();
  RecordChange(TJournalOp::Merge, owner, keep_id + "\n" + other_id, fragment.Serialize(), outcome);
  return outcome;
}

// A version 4 UUID from the system's random source (while an entry is
// replayed: the next one it recorded).
std::string TRecordStore::NewUuid() {
  if (!replay_uuids_.empty()) {
    std::string uuid = std::move(replay_uuids_.front());
    replay_uuids_.pop_front();
    return uuid;
  }
  std::random_device source;
  unsigned char bytes[16];
  for (int i = 0; i < 16; i += 4) {
    const unsigned word = source();
    for (int j = 0; j < 4; ++j) bytes[i + j] = static_cast<unsigned char>(word >> (8 * j));
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  char text[37];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  std::string uuid = std::string("urn:uuid:") + text;
  drawn_uuids_.push_back(uuid);
  return uuid;
}

bool TRecordStore::HasId(TNodeRef record, const std::string& id) {
  const TNodeRef kept = dom_.CurrentNode();
  dom_.SetCurrentNode(record);
  bool found = false;
  if (dom_.SelectFirstChild()) {
    for (bool more = dom_.SelectSibling(kIdName); more && !found; more = dom_.SelectNextSibling(kIdName)) {
      found = dom_.GetText() == id;
    }
  }
  dom_.SetCurrentNode(kept);
  return found;
}

std::vector<TCardRef> TRecordStore::OwnCardRefsWithUids(const std::string& owner, const std::string& id,
                                                        std::size_t& added) {
  added = 0;
  if (kind_ != TStoreKind::Cards || owner.find('"') != std::string::npos || id.find('"') != std::string::npos) {
    return {};
  }
  const auto own_cards = [&] { return OwnCards(owner, id); };
  std::vector<TCardRef> refs = own_cards();
  if (std::all_of(refs.begin(), refs.end(), [](const TCardRef& ref) { return ref.HasUid; })) return refs;
  // UIDs are given only when the journal can take them: a card goes out
  // without one rather than with one that would not be kept.
  TRecordOutcome outcome;
  if (!BeginChange(outcome)) return refs;
  std::vector<TNodeRef> given;
  for (const TCardRef& ref : refs) {
    if (ref.HasUid) continue;
    dom_.SetCurrentNode(ref.Node);
    dom_.AddChild("UID");
    dom_.SetText(NewUuid());
    given.push_back(ref.Node);
  }
  for (const TNodeRef node : given) cards_.Touched(dom_, node);
  cards_.Commit(dom_);
  added = given.size();
  Changed();
  outcome.Changed = added;
  RecordChange(TJournalOp::Uids, owner, id, {}, outcome);
  // When the journal refused, the store is back as it was (read again), and
  // the cards go out as it holds them.
  if (!outcome) added = 0;
  return own_cards();
}

std::vector<TCardRef> TRecordStore::OwnCards(const std::string& owner, const std::string& id) {
  if (kind_ != TStoreKind::Cards) return {};
  std::vector<TCardRef> refs = cards_.OwnedBy(dom_, owner);
  if (!id.empty()) std::erase_if(refs, [&](const TCardRef& ref) { return !HasId(ref.Node, id); });
  return refs;
}

std::optional<TRecordElement> TRecordStore::CardTree(TNodeRef card) {
  const TNodeRef kept = dom_.CurrentNode();
  dom_.SetCurrentNode(card);
  std::optional<TRecordElement> tree = RecordTreeOfCurrent(dom_);
  dom_.SetCurrentNode(kept);
  return tree;
}

std::vector<TRecordElement> TRecordStore::OwnCardsWithUids(const std::string& owner, const std::string& id,
                                                           std::size_t& added) {
  std::vector<TRecordElement> cards;
  for (const TCardRef& ref : OwnCardRefsWithUids(owner, id, added)) {
    std::optional<TRecordElement> card = CardTree(ref.Node);
    if (card) cards.push_back(std::move(*card));
  }
  return cards;
}

std::string TRecordStore::NewRecordId() {
  if (!replay_ids_.empty()) {
    std::string id = std::move(replay_ids_.front());
    replay_ids_.pop_front();
    return id;
  }
  std::string id = NewRecordIdFor(dom_, ids_, RecordClock);
  drawn_ids_.push_back(id);
  return id;
}

bool TRecordStore::BeginChange(TRecordOutcome& outcome) {
  drawn_ids_.clear();
  drawn_uuids_.clear();
  std::string error;
  if (journal_ == nullptr || journal_->Ready(error)) return true;
  outcome.Status = TRecordOutcome::TStatus::NotDurable;
  outcome.Message = "the change could not be written to the journal: " + error;
  return false;
}

void TRecordStore::RecordChange(TJournalOp op, const std::string& owner, std::string_view xpath,
                                std::string_view text, TRecordOutcome& outcome) {
  if (journal_ == nullptr) return;
  TJournalEntry entry;
  entry.Store = kind_;
  entry.Op = op;
  entry.Owner = owner;
  entry.XPath = xpath;
  entry.Text = text;
  entry.Ids = drawn_ids_;
  entry.Uuids = drawn_uuids_;
  std::string error;
  if (journal_->Record(entry, error)) return;
  journal_->Restore(*this);
  outcome.Status = TRecordOutcome::TStatus::NotDurable;
  outcome.Message = "the change could not be written to the journal: " + error;
}

TRecordOutcome TRecordStore::Replay(const TJournalEntry& entry) {
  TRecordJournal* const journal = std::exchange(journal_, nullptr);
  replaying_ = true;
  replay_ids_.assign(entry.Ids.begin(), entry.Ids.end());
  replay_uuids_.assign(entry.Uuids.begin(), entry.Uuids.end());
  TRecordOutcome outcome;
  switch (entry.Op) {
    case TJournalOp::Delete:
      outcome = DeleteSelected(entry.XPath, entry.Owner);
      break;
    case TJournalOp::Replace:
      outcome = ReplaceRecord(entry.XPath, entry.Text, entry.Owner);
      break;
    case TJournalOp::Insert:
      outcome = InsertRecord(entry.Text, entry.Owner);
      break;
    case TJournalOp::Upload:
      outcome = InsertUpload(entry.Text, entry.Owner);
      break;
    case TJournalOp::DeleteCards: {
      std::vector<std::string> ids;
      for (std::size_t at = 0, end; (end = entry.Text.find('\n', at)) != std::string::npos; at = end + 1) {
        ids.push_back(entry.Text.substr(at, end - at));
      }
      outcome = DeleteCards(ids, entry.Owner);
      break;
    }
    case TJournalOp::Merge: {
      const std::size_t cut = entry.XPath.find('\n');
      const std::string keep_id = entry.XPath.substr(0, cut);
      const std::string other_id = cut == std::string::npos ? std::string() : entry.XPath.substr(cut + 1);
      outcome = MergeCards(keep_id, other_id, entry.Text, entry.Owner);
      break;
    }
    case TJournalOp::Uids: {
      std::size_t added = 0;
      OwnCardsWithUids(entry.Owner, entry.XPath, added);
      outcome.Changed = added;
      break;
    }
  }
  replay_ids_.clear();
  replay_uuids_.clear();
  replaying_ = false;
  journal_ = journal;
  return outcome;
}

}  // namespace pelorin
