// The journal of record changes: its framing, what a restart after a crash
// gives back (the service is dropped without its stop, so only the store
// files and the journal remain), torn and damaged tails, entries a save
// already holds, and the faults that must refuse a change.
#include "service/journal_entry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/service/web_fixture.h"

namespace pelorin::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TJournalEntry SampleEntry(std::uint64_t seq) {
  TJournalEntry entry;
  entry.Seq = seq;
  entry.Store = TStoreKind::Users;
  entry.Op = TJournalOp::Replace;
  entry.Owner = "al\nice";
  entry.XPath = "/*/User[USER='a:b']";
  entry.Text = std::string("<User>\n\0x</User>", 16);
  entry.Ids = {"45000000000001", ""};
  entry.Uuids = {"urn:uuid:1"};
  return entry;
}

TEST(JournalEntryTest, EntriesComeBackWholeAndInOrder) {
  const std::string text = EncodeJournalEntry(SampleEntry(7)) + EncodeJournalEntry(SampleEntry(8));
  const TJournalContents contents = DecodeJournal(text);
  ASSERT_EQ(2u, contents.Entries.size());
  EXPECT_EQ(SampleEntry(7), contents.Entries[0]);
  EXPECT_EQ(SampleEntry(8), contents.Entries[1]);
  EXPECT_EQ(text.size(), contents.ValidBytes);
}

// A crash in mid-append leaves any prefix of the last entry; a damaged byte
// anywhere in it breaks its checksum or its framing. Either way reading stops
// at the last whole entry.
TEST(JournalEntryTest, TornOrDamagedTailIsCutAtTheLastWholeEntry) {
  const std::string first = EncodeJournalEntry(SampleEntry(1));
  const std::string last = EncodeJournalEntry(SampleEntry(2));
  for (std::size_t cut = 0; cut < last.size(); ++cut) {
    const TJournalContents contents = DecodeJournal(first + last.substr(0, cut));
    ASSERT_EQ(1u, contents.Entries.size()) << cut;
    EXPECT_EQ(first.size(), contents.ValidBytes) << cut;
  }
  for (std::size_t at = 0; at < last.size(); ++at) {
    std::string damaged = last;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x01);
    const TJournalContents contents = DecodeJournal(first + damaged);
    EXPECT_EQ(1u, contents.Entries.size()) << at;
  }
}

constexpr char kUpload[] =
    "vcfupload\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nFN:Up One\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Up Two\r\nEND:VCARD\r\n";

class JournalTest : public TWebTest {
 protected:
  void SetUp() override {
    WriteStores();
    ASSERT_TRUE(Start(std::chrono::hours(1)));  // no save comes on its own
  }
  // The process dies: no stop, no save.
  void Crash() { service_.reset(); }
  void Restart() { ASSERT_TRUE(Start(std::chrono::hours(1))); }
  std::string UsersText() {
    TStoreGuard guard(service_->StoreLock);
    return service_->UserDom.Dom().SaveToString();
  }
  std::string JournalFile() { return dir_.File("journal/changes"); }
  void Insert(const std::string& name) {
    ASSERT_EQ(302, Post("/pelorin/index.htm", {{"Command", "insert"}, {"XML", "<vCard><FN>" + name + "</FN></vCard>"},
                                               {"Redirect", "index.htm"}})
                       .StatusCode);
  }
  // Every kind of change, each answered: what a restart must give back.
  void MakeChanges() {
    Insert("Ann");
    Insert("Ben");
    ASSERT_EQ(302, Send("POST", "/pelorin/import.htm", kUpload).StatusCode);
    const std::vector<std::string> ids = CardTexts("/*/vCard[FN='Ben']/ID");
    ASSERT_EQ(1u, ids.size());
    ASSERT_EQ(302, Post("/pelorin/index.htm", {{"Command", "edit"}, {"xPath", "/*/vCard[FN='Ben']"},
                                               {"XML", "<vCard><FN>Benedict</FN><ID>" + ids[0] + "</ID></vCard>"},
                                               {"Redirect", "index.htm"}})
                       .StatusCode);
    ASSERT_EQ(302, Post("/pelorin/index.htm", {{"Command", "delete"}, {"xPath", "/*/vCard[FN='Up One']"},
                                               {"Redirect", "index.htm"}})
                       .StatusCode);
    ASSERT_EQ(200, Send("GET", "/pelorin/export3.vcf", "").StatusCode);  // gives every card a UID
    ASSERT_EQ(302, Post("/user/index.htm", {{"Command", "insert"},
                                            {"XML", "<User><USER>carol</USER><PASSWORD>c</PASSWORD></User>"},
                                            {"Redirect", "r"}})
                       .StatusCode);
  }
};

TEST_F(JournalTest, ACrashLosesNoAnsweredChangeAndIdsStayTheSame) {
  MakeChanges();
  const std::string cards = CardsText();
  const std::string users = UsersText();
  ASSERT_EQ(3u, CardTexts("/*/vCard/UID").size());
  Crash();
  Restart();
  EXPECT_EQ(cards, CardsText());  // the same records, IDs, owners and UIDs, in the same order
  EXPECT_EQ(users, UsersText());
  EXPECT_TRUE(TimerEnabled()) << "what came back from the journal must be saved";
  // A second crash before any save gives the same again, never twice.
  Crash();
  Restart();
  EXPECT_EQ(cards, CardsText());
}

TEST_F(JournalTest, ASaveEmptiesTheJournalAndItsEntriesAreNeverAppliedTwice) {
  MakeChanges();
  const std::string cards = CardsText();
  const std::string journal = ReadAll(JournalFile());
  ASSERT_FALSE(journal.empty());
  service_->SaveTimerTimer();
  EXPECT_EQ(0u, fs::file_size(JournalFile()));
  // A crash after the store files were written but before the journal was
  // emptied leaves both: the checkpoint marks tell that the files hold it all.
  Crash();
  WriteFile(JournalFile(), journal);
  Restart();
  EXPECT_EQ(cards, CardsText());
  Insert("After");
  const std::string later = CardsText();
  Crash();
  Restart();
  EXPECT_EQ(later, CardsText());
}

// Per-card acceptance is replayed as it ran: the refused card (past the bound
// of one text) is refused again, the others get the same IDs, and the undo
// that followed removes the same cards again.
TEST_F(JournalTest, AnUploadWithARefusedCardAndItsUndoComeBackTheSame) {
  Insert("Ann");
  const std::string huge = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Huge\r\nNOTE:" + std::string(8'000'001, 'x') +
                           "\r\nEND:VCARD\r\n";
  const std::string text = "vcfupload\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nFN:Up One\r\nEND:VCARD\r\n" + huge +
                           "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Up Two\r\nEND:VCARD\r\n";
  ASSERT_EQ(302, Send("POST", "/pelorin/import.htm", text).StatusCode);
  ASSERT_EQ((std::vector<std::string>{"Ann", "Up One", "Up Two"}), CardTexts("/*/vCard/FN"));
  const std::string uploaded = CardsText();
  Crash();
  Restart();
  EXPECT_EQ(uploaded, CardsText());
  // The report is the running service's: a restart forgets it, so the undo
  // here is of an upload made after the restart.
  ASSERT_EQ(302, Send("POST", "/pelorin/import.htm", kUpload).StatusCode);
  ASSERT_EQ(302, Post("/pelorin/importedmsg.htm", {{"Command", "undoimport"}}).StatusCode);
  const std::string undone = CardsText();
  EXPECT_EQ(uploaded, undone);
  Crash();
  Restart();
  EXPECT_EQ(undone, CardsText());
}

// A crash during a save, once the checkpoint is written but before the
// store file is replaced: the old file and the whole journal are left.
TEST_F(JournalTest, ACrashDuringASaveAppliesTheJournalToTheOldFile) {
  Insert("Ann");
  service_->SaveTimerTimer();
  const std::string old_file = ReadAll(dir_.File("pelorin/base.xml"));
  Insert("Ben");
  const std::string cards = CardsText();
  const std::string journal = ReadAll(JournalFile());
  service_->SaveTimerTimer();
  Crash();
  WriteFile(dir_.File("pelorin/base.xml"), old_file);
  WriteFile(JournalFile(), journal);
  Restart();
  EXPECT_EQ(cards, CardsText());
}

TEST_F(JournalTest, AJournalCutAtEveryByteOfItsLastEntryGivesTheStateBeforeIt) {
  Insert("Ann");
  const std::string before = CardsText();
  const std::uintmax_t whole_before = fs::file_size(JournalFile());
  Insert("Ben");
  const std::string journal = ReadAll(JournalFile());
  ASSERT_GT(journal.size(), whole_before);
  Crash();
  for (std::size_t cut = whole_before; cut < journal.size(); ++cut) {
    WriteFile(JournalFile(), journal.substr(0, cut));
    Restart();
    ASSERT_EQ(before, CardsText()) << "cut at byte " << cut;
    // The torn tail is gone, so what comes next is readable after it.
    EXPECT_EQ(whole_before, fs::file_size(JournalFile())) << cut;
    Crash();
  }
  WriteFile(JournalFile(), journal);
  Restart();
  EXPECT_EQ(2u, CardTexts("/*/vCard/FN").size());
}

// The journal cannot be opened (its directory's name is taken by a file):
// changes are refused with 500 and a clear message, nothing changes in
// memory, pages are still served, and once the fault is mended changes go
// through again.
TEST_F(JournalTest, AChangeTheJournalCannotTakeIsRefusedAndChangesNothing) {
  Crash();
  fs::remove_all(dir_.File("journal"));
  WriteFile(dir_.File("journal"), "in the way");
  Restart();
  const std::string cards = CardsText();
  const ResponseInfo refused = Post("/pelorin/index.htm", {{"Command", "insert"}, {"XML", "<vCard><FN>X</FN></vCard>"},
                                                           {"Redirect", "index.htm"}});
  EXPECT_EQ(500, refused.StatusCode);
  EXPECT_NE(std::string::npos, refused.Body.find("could not be written to the journal")) << refused.Body;
  EXPECT_EQ(500, Send("POST", "/pelorin/import.htm", kUpload).StatusCode);
  EXPECT_EQ(cards, CardsText());
  EXPECT_EQ(200, Send("GET", "/pelorin/export3.vcf", "").StatusCode);
  fs::remove(dir_.File("journal"));
  Insert("Mended");
  EXPECT_EQ(std::vector<std::string>{"Mended"}, CardTexts("/*/vCard/FN"));
  Crash();
  Restart();
  EXPECT_EQ(std::vector<std::string>{"Mended"}, CardTexts("/*/vCard/FN"));
}

// A flush that fails answers 500; the journal then takes nothing more until
// a save has put the stores on disk whole.
TEST_F(JournalTest, AFailedFlushIsNeverAnsweredAsDone) {
  service_->Journal.FlushSeam = [](TAppendFile&) { throw TFileError("Could not write journal (fsync): I/O error", "fsync", 5); };
  const ResponseInfo res = Post("/pelorin/index.htm", {{"Command", "insert"}, {"XML", "<vCard><FN>X</FN></vCard>"},
                                                       {"Redirect", "index.htm"}});
  EXPECT_EQ(500, res.StatusCode);
  EXPECT_NE(std::string::npos, res.Body.find("could not be made durable")) << res.Body;
  service_->Journal.FlushSeam = [](TAppendFile& file) { file.Sync(); };
  EXPECT_EQ(500, Post("/pelorin/index.htm", {{"Command", "insert"}, {"XML", "<vCard><FN>Y</FN></vCard>"},
                                             {"Redirect", "index.htm"}})
                     .StatusCode);
  service_->SaveTimerTimer();
  Insert("Z");
}

}  // namespace
}  // namespace pelorin::testing
