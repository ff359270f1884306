// The service's side of the journal: opening it and replaying it at start,
// the hook through which every store records its changes, bringing a store
// back after a change could not be recorded, and the save as a checkpoint.
#include <sys/stat.h>

#include <exception>
#include <fstream>
#include <iterator>

#include "service/event_log.h"
#include "service/vcard_main.h"

namespace pelorin {
namespace {

constexpr char kJournalDir[] = "/journal";
constexpr char kJournalFile[] = "/journal/changes";
constexpr char kCheckpointFile[] = "/journal/checkpoint";

// The whole file, or nothing when it cannot be read.
std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

}  // namespace

bool TPelorinService::TStoreJournalHook::Ready(std::string& error) NO_THREAD_SAFETY_ANALYSIS {
  return service_.JournalReady(error);
}

bool TPelorinService::TStoreJournalHook::Record(TJournalEntry& entry, std::string& error) {
  return service_.Journal.Append(entry, error);
}

void TPelorinService::TStoreJournalHook::Restore(TRecordStore& store) NO_THREAD_SAFETY_ANALYSIS {
  service_.RestoreStore(store);
}

std::string TPelorinService::StoreFileOf(const TRecordStore& store) const {
  return AppDir + MapPath(store.UrlPath());
}

// A journal that could not be opened (a directory that was not writable) is
// tried again with the next change, so that the service takes changes again
// once the fault is mended.
bool TPelorinService::JournalReady(std::string& error) {
  if (Journal.IsOpen()) return true;
  try {
    ::mkdir((AppDir + kJournalDir).c_str(), 0700);
    Journal.Open(AppDir + kJournalFile);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  if (journal_starting_) return true;
  // Opened late: what the file still holds was applied at the start, and the
  // stores may have been saved since without checkpoint marks. A save now
  // marks the files and empties the journal, so none of it is applied twice.
  if (SaveAll()) return true;
  Journal.Close();
  error = "the stores could not be saved before the journal was taken up again";
  return false;
}

std::size_t TPelorinService::ReplayInto(TRecordStore& store, const TJournalContents& contents) {
  const std::string file = StoreFileOf(store);
  // A store still read from its first-run file holds no entry at all.
  const std::uint64_t covered = Exists(file) ? Checkpoint.CoveredSeq(store.Kind(), FileBytes(file)) : 0;
  std::size_t replayed = 0;
  for (const TJournalEntry& entry : contents.Entries) {
    if (entry.Store != store.Kind() || entry.Seq <= covered) continue;
    const TRecordOutcome outcome = store.Replay(entry);
    if (!outcome) {
      WriteLog("Journal entry " + std::to_string(entry.Seq) + " could not be applied again: " + outcome.Message);
    }
    ++replayed;
  }
  return replayed;
}

void TPelorinService::OpenJournal() {
  for (TRecordStore* store : {&XMLDom, &UserDom, &ConfigDom}) store->SetJournal(&JournalHook);
  Checkpoint.Load(AppDir + kCheckpointFile);
  const std::string journal_file = AppDir + kJournalFile;
  const std::string bytes = FileBytes(journal_file);
  const TJournalContents contents = DecodeJournal(bytes);
  std::string error;
  journal_starting_ = true;
  const bool ready = JournalReady(error);
  journal_starting_ = false;
  if (!ready) {
    WriteLog("Changes are refused until the journal can be written: " + error);
  } else if (contents.ValidBytes < bytes.size()) {
    WriteLog("Journal " + journal_file + ": a damaged tail of " + std::to_string(bytes.size() - contents.ValidBytes) +
             " bytes from byte " + std::to_string(contents.ValidBytes) + " on was cut off");
    try {
      Journal.CutTo(contents.ValidBytes);
    } catch (const std::exception& e) {
      WriteLog(e.what());
    }
  }
  std::size_t replayed = 0;
  for (TRecordStore* store : {&XMLDom, &UserDom, &ConfigDom}) replayed += ReplayInto(*store, contents);
  std::uint64_t last_seq = Checkpoint.HighestSeq();
  for (const TJournalEntry& entry : contents.Entries) last_seq = std::max(last_seq, entry.Seq);
  Journal.SetLastSeq(last_seq);
  if (replayed > 0) {
    WriteLog("Journal: " + std::to_string(replayed) + " changes applied again");
    SaveTimer.SetEnabled(true);
  }
}

void TPelorinService::RestoreStore(TRecordStore& store) {
  LoadStore(StoreFileOf(store), store);
  ReplayInto(store, DecodeJournal(FileBytes(AppDir + kJournalFile)));
}

bool TPelorinService::SaveAll() {
  TRecordStore* const stores[] = {&XMLDom, &UserDom, &ConfigDom};
  std::string bytes[3];
  const std::uint64_t seq = Journal.LastSeq();
  for (int i = 0; i < 3; ++i) {
    bytes[i] = stores[i]->Dom().SaveToString();
    Checkpoint.SetPending(stores[i]->Kind(), seq, bytes[i]);
  }
  const auto report = [this](const std::exception& e) {
    WriteLog(e.what());
    WriteEventLog(ExecutableSourceName(), e.what());
  };
  // Without the marks, a crash after a store file is replaced would apply its
  // entries twice at the next start; without an open journal there are none.
  if (Journal.IsOpen()) {
    try {
      Checkpoint.Save(AppDir + kCheckpointFile);
    } catch (const std::exception& e) {
      report(e);
      return false;
    }
  }
  bool saved = true;
  for (int i = 0; i < 3; ++i) {
    try {
      // New files are private: the user store holds passwords.
      ReplaceFileDurably(StoreFileOf(*stores[i]), bytes[i], 0600);
      Checkpoint.Complete(stores[i]->Kind());
    } catch (const std::exception& e) {
      // The other stores are still written: one unwritable file must not hold
      // back the changes of the others.
      saved = false;
      report(e);
    }
  }
  // Only when every store holds its entries may the journal let them go.
  if (saved && Journal.IsOpen()) {
    try {
      Journal.Truncate();
    } catch (const std::exception& e) {
      report(e);
    }
  }
  return saved;
}

}  // namespace pelorin
