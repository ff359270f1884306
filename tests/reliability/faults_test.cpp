// Storage faults under the real executable: a store file that cannot be written
// (read-only directory, a directory where the temporary file goes, a file-size
// limit), a journal that cannot be written, and a log file that cannot be written. The previous file must survive
// byte for byte, the change must stay served from memory and reach the file once
// the fault is gone, and the failure must be reported.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/http/server_process.h"

namespace pelorin::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kUsers[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xUser>"
    "<User><USER>bob</USER><PASSWORD>pw</PASSWORD><NAME>Bob</NAME></User>"
    "</xUser>";
constexpr char kInsertUnsavedCard[] =
    "Command=insert&XML=%3CvCard%3E%3CFN%3EUnsaved+Card%3C%2FFN%3E%3C%2FvCard%3E&Redirect=index.htm";
// The card store is larger than the file-size limit below, the log file and the
// other stores stay well under it, so only the card store's save runs into it.
constexpr std::size_t kNoteBytes = 64 * 1024;
constexpr rlim_t kFileSizeLimit = 32 * 1024;

std::string CardStore() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase><vCard><FN>Kept Card</FN><NOTE>" +
         std::string(kNoteBytes, 'n') + "</NOTE><OWNER>bob</OWNER><ID>1</ID></vCard></xBase>";
}

bool WaitForLogText(const TAppDir& app, const std::string& text) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    if (app.LogText().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// The day file names the service writes to at this moment: today's and, for a
// test that runs across midnight, tomorrow's.
std::vector<std::string> CurrentLogFileNames() {
  std::vector<std::string> names;
  const std::time_t now = std::time(nullptr);
  for (int day = 0; day < 2; ++day) {
    std::tm local{};
    ::localtime_r(&now, &local);
    local.tm_mday += day;
    local.tm_hour = 12;  // noon keeps a change of daylight saving time from moving the day
    local.tm_isdst = -1;
    std::mktime(&local);
    char name[32];
    std::strftime(name, sizeof name, "%Y%m%d.log", &local);
    names.emplace_back(name);
  }
  return names;
}

bool AnyRegularLogFile(const TAppDir& app) {
  for (const auto& entry : fs::directory_iterator(app.path())) {
    if (entry.path().extension() == ".log" && entry.is_regular_file()) return true;
  }
  return false;
}

class StoreFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(app_.File("config/config.xml"), TAppDir::ConfigWithPort(port_));
    WriteFile(app_.File("pelorin/base.xml"), CardStore());
    WriteFile(app_.File("user/user.xml"), kUsers);
    WriteFile(app_.File("pelorin/names.vcf.xsl"), kNamesStylesheet);
  }
  void StartServing(const std::vector<std::string>& env) {
    server_ = std::make_unique<TServerProcess>(app_.Executable(), env, launcher_);
    ASSERT_TRUE(server_->WaitForPort(port_)) << app_.LogText();
  }
  std::optional<int> Stop() {
    server_->Signal(SIGTERM);
    return server_->WaitForExit();
  }
  std::string Names() { return Request(port_, "GET", "/pelorin/names.vcf", "bob", "pw").Body; }
  std::string CardStorePath() const { return app_.File("pelorin/base.xml"); }

  // Root ignores file modes, so a test that needs them to hold runs the service
  // as an unprivileged user that owns the application directory.
  void RunUnprivileged() {
    constexpr uid_t kNobody = 65534;
    for (const auto& entry : fs::recursive_directory_iterator(app_.path())) {
      ASSERT_EQ(0, ::lchown(entry.path().c_str(), kNobody, kNobody)) << entry.path();
    }
    ASSERT_EQ(0, ::chown(app_.path().c_str(), kNobody, kNobody));
    launcher_ = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }

  TAppDir app_;
  std::uint16_t port_ = FreePort();
  std::unique_ptr<TServerProcess> server_;
  std::vector<std::string> launcher_;
};

enum class TFault { kReadOnlyCardDirectory, kDirectoryInPlaceOfTheTemporaryFile, kFileSizeLimit };

struct TFaultCase {
  const char* Name;
  TFault Fault;
  const char* Reason;  // how the failed save of the card store ends its log line
};

void PrintTo(const TFaultCase& fault, std::ostream* out) { *out << fault.Name; }

const TFaultCase kFaults[] = {
    {"ReadOnlyCardDirectory", TFault::kReadOnlyCardDirectory, " (create): Permission denied"},
    {"DirectoryInPlaceOfTheTemporaryFile", TFault::kDirectoryInPlaceOfTheTemporaryFile, " (create): Is a directory"},
    // SIGXFSZ is ignored by the service, so the write fails with EFBIG instead of
    // ending the process with the stores unsaved.
    {"FileSizeLimit", TFault::kFileSizeLimit, " (write): File too large"},
};

class StoreFaultTest : public StoreFixture, public ::testing::WithParamInterface<TFaultCase> {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    // A read-only directory is no fault for root; the other two faults hold for
    // root as well.
    if (GetParam().Fault == TFault::kReadOnlyCardDirectory && ::geteuid() == 0) RunUnprivileged();
  }
  // The temporary directory can only be removed with its contents when the card
  // directory is writable again.
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(app_.File("pelorin"), fs::perms::owner_all, fs::perm_options::add, ignored);
  }

  void Apply() {
    switch (GetParam().Fault) {
      case TFault::kReadOnlyCardDirectory:
        fs::permissions(app_.File("pelorin"), fs::perms::owner_read | fs::perms::owner_exec);
        break;
      case TFault::kDirectoryInPlaceOfTheTemporaryFile:
        ASSERT_TRUE(fs::create_directory(CardStorePath() + ".saving"));
        break;
      case TFault::kFileSizeLimit: {
        // Lowered from outside on the running process, so the start is not
        // affected; only the soft limit moves, so it can be raised again.
        rlimit lowered{};
        ASSERT_EQ(0, ::prlimit(server_->Pid(), RLIMIT_FSIZE, nullptr, &size_limit_before_));
        lowered.rlim_cur = kFileSizeLimit;
        lowered.rlim_max = size_limit_before_.rlim_max;
        ASSERT_EQ(0, ::prlimit(server_->Pid(), RLIMIT_FSIZE, &lowered, nullptr));
        break;
      }
    }
  }

  void Remove() {
    switch (GetParam().Fault) {
      case TFault::kReadOnlyCardDirectory:
        fs::permissions(app_.File("pelorin"), fs::perms::owner_all);
        break;
      case TFault::kDirectoryInPlaceOfTheTemporaryFile:
        ASSERT_TRUE(fs::remove(CardStorePath() + ".saving"));
        break;
      case TFault::kFileSizeLimit:
        ASSERT_EQ(0, ::prlimit(server_->Pid(), RLIMIT_FSIZE, &size_limit_before_, nullptr));
        break;
    }
  }

  std::string FailureLine() const { return ": Could not save " + CardStorePath() + GetParam().Reason + "\r\n"; }

  rlimit size_limit_before_{};
};

TEST_P(StoreFaultTest, FailedSaveKeepsTheFileAndTheChangeAndIsRetriedOnceTheFaultIsGone) {
  StartServing({"PELORIN_SAVE_INTERVAL_MS=200"});
  const std::string before = ReadFile(CardStorePath());
  Apply();
  ASSERT_EQ(302, Request(port_, "POST", "/pelorin/index.htm", "bob", "pw", kInsertUnsavedCard).Status);

  ASSERT_TRUE(WaitForLogText(app_, FailureLine())) << app_.LogText();
  EXPECT_EQ(before, ReadFile(CardStorePath()));
  EXPECT_FALSE(fs::is_regular_file(CardStorePath() + ".saving"));
  // The change lives on in memory and is served.
  EXPECT_EQ("Kept Card|Unsaved Card|", Names());
  // Still failing on the next period: the file stays as it was.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(before, ReadFile(CardStorePath()));

  Remove();
  // No further change is made: the failed save itself must come round again.
  ASSERT_TRUE(WaitForFileText(app_, "pelorin/base.xml", "<FN>Unsaved Card</FN>")) << app_.LogText();
  const std::string after = ReadFile(CardStorePath());
  EXPECT_NE(std::string::npos, after.find("<FN>Kept Card</FN>"));
  EXPECT_NE(std::string::npos, after.find(std::string(kNoteBytes, 'n')));
  EXPECT_FALSE(fs::exists(CardStorePath() + ".saving"));
  EXPECT_EQ(std::optional<int>(0), Stop());
}

TEST_P(StoreFaultTest, FailedSaveAtStopIsReportedAndKeepsTheFile) {
  // The default interval: nothing but the stop saves during this test.
  StartServing({});
  const std::string before = ReadFile(CardStorePath());
  ASSERT_EQ(302, Request(port_, "POST", "/pelorin/index.htm", "bob", "pw", kInsertUnsavedCard).Status);
  Apply();

  EXPECT_EQ(std::optional<int>(1), Stop());
  EXPECT_EQ(before, ReadFile(CardStorePath()));
  EXPECT_FALSE(fs::is_regular_file(CardStorePath() + ".saving"));
  const std::string log = app_.LogText();
  const auto stopping = log.find(": Stopping Pelorin\r\n");
  const auto failure = log.find(FailureLine());
  ASSERT_NE(std::string::npos, stopping) << log;
  ASSERT_NE(std::string::npos, failure) << log;
  EXPECT_LT(stopping, failure);
  // The stores without a fault are written all the same.
  EXPECT_NE(std::string::npos, ReadFile(app_.File("user/user.xml")).find("\r\n    <USER>bob</USER>"));
}

INSTANTIATE_TEST_SUITE_P(Faults, StoreFaultTest, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<TFaultCase>& info) { return info.param.Name; });

// The journal takes every change before it is answered. When it cannot (a
// file-size limit reached while running, a journal directory that cannot be
// written at start), the change is refused with 500 and a reason, the store in
// memory stays as it was, reads go on, and changes are taken again once the
// fault is gone, durable as before.
class JournalFaultTest : public StoreFixture {
 protected:
  static std::string InsertCard(const std::string& name, std::size_t note_bytes) {
    return "Command=insert&XML=%3CvCard%3E%3CFN%3E" + name + "%3C%2FFN%3E%3CNOTE%3E" + std::string(note_bytes, 'j') +
           "%3C%2FNOTE%3E%3C%2FvCard%3E&Redirect=index.htm";
  }
  THttpAnswer Post(const std::string& body) { return Request(port_, "POST", "/pelorin/index.htm", "bob", "pw", body); }
  // A SIGKILL leaves only what reached the disk; the next start shows it.
  void KillAndStartAgain() {
    server_->Signal(SIGKILL);
    server_.reset();  // reaps it
    StartServing({});
  }
};

TEST_F(JournalFaultTest, FileSizeLimitRefusesTheChangeAndTheJournalTakesChangesAgainOnceItIsRaised) {
  StartServing({});
  rlimit before{};
  ASSERT_EQ(0, ::prlimit(server_->Pid(), RLIMIT_FSIZE, nullptr, &before));
  // Room for the log lines, not for an entry that holds the larger note.
  rlimit lowered = before;
  lowered.rlim_cur = 16 * 1024;
  ASSERT_EQ(0, ::prlimit(server_->Pid(), RLIMIT_FSIZE, &lowered, nullptr));

  const THttpAnswer refused = Post(InsertCard("Too+Big", 24 * 1024));
  EXPECT_EQ(500, refused.Status);
  EXPECT_EQ(0u, refused.Body.find("Error inserting record. the change could not be written to the journal: "))
      << refused.Body;
  EXPECT_NE(std::string::npos, refused.Body.find("File too large")) << refused.Body;
  EXPECT_TRUE(WaitForLogText(app_, "could not be written to the journal")) << app_.LogText();
  // Nothing of the refused card in memory; reads are served.
  EXPECT_EQ("Kept Card|", Names());
  // A change small enough for the limit still goes through: the refused one
  // left no piece behind that would hide it from the next start.
  ASSERT_EQ(302, Post(InsertCard("Small", 10)).Status);

  ASSERT_EQ(0, ::prlimit(server_->Pid(), RLIMIT_FSIZE, &before, nullptr));
  ASSERT_EQ(302, Post(InsertCard("Big", 24 * 1024)).Status);
  KillAndStartAgain();
  EXPECT_EQ("Kept Card|Small|Big|", Names());
  EXPECT_EQ(std::optional<int>(0), Stop());
}

TEST_F(JournalFaultTest, UnwritableJournalDirectoryAtStartRefusesChangesUntilItIsMended) {
  const std::string journal_dir = app_.File("journal");
  ASSERT_TRUE(fs::create_directory(journal_dir));
  if (::geteuid() == 0) RunUnprivileged();
  fs::permissions(journal_dir, fs::perms::owner_read | fs::perms::owner_exec);
  StartServing({});
  EXPECT_TRUE(WaitForLogText(app_, "Changes are refused until the journal can be written: ")) << app_.LogText();

  const THttpAnswer refused = Post(InsertCard("Refused", 10));
  EXPECT_EQ(500, refused.Status);
  EXPECT_NE(std::string::npos, refused.Body.find("Permission denied")) << refused.Body;
  EXPECT_EQ("Kept Card|", Names());

  fs::permissions(journal_dir, fs::perms::owner_all);
  ASSERT_EQ(302, Post(InsertCard("Taken", 10)).Status);
  KillAndStartAgain();
  EXPECT_EQ("Kept Card|Taken|", Names());
  EXPECT_EQ(std::optional<int>(0), Stop());
}

// The log files live in the application directory itself, which holds the store
// directories and so cannot vanish; a directory under the day file's name makes
// every log line fail the way a missing log location does.
class LogFaultTest : public StoreFixture {
 protected:
  void BreakTheLog() {
    for (const std::string& name : CurrentLogFileNames()) {
      fs::remove(app_.File(name));
      ASSERT_TRUE(fs::create_directory(app_.File(name)));
    }
  }
  void MendTheLog() {
    for (const std::string& name : CurrentLogFileNames()) fs::remove(app_.File(name));
  }
};

TEST_F(LogFaultTest, ServiceKeepsAnsweringAndSavingWithoutItsLog) {
  StartServing({"PELORIN_SAVE_INTERVAL_MS=200"});
  BreakTheLog();

  EXPECT_EQ("Kept Card|", Names());
  // Requests that write a log line are answered as usual.
  EXPECT_EQ(401, Request(port_, "GET", "/pelorin/names.vcf", "bob", "wrong").Status);
  const THttpAnswer broken = Request(port_, "POST", "/pelorin/index.htm", "bob", "pw",
                                     "Command=insert&XML=%3CvCard%3E%3CFN%3E&Redirect=index.htm");
  EXPECT_EQ(500, broken.Status);
  EXPECT_EQ(0u, broken.Body.find("Error inserting record."));
  ASSERT_EQ(302, Request(port_, "POST", "/pelorin/index.htm", "bob", "pw", kInsertUnsavedCard).Status);
  EXPECT_TRUE(WaitForFileText(app_, "pelorin/base.xml", "<FN>Unsaved Card</FN>"));
  EXPECT_EQ("Kept Card|Unsaved Card|", Names());
  // Proof that the lines above really had nowhere to go.
  EXPECT_FALSE(AnyRegularLogFile(app_));

  MendTheLog();
  EXPECT_EQ(401, Request(port_, "GET", "/pelorin/names.vcf", "bob", "wrong").Status);
  EXPECT_TRUE(WaitForLogText(app_, ") check failed.\r\n"));
  EXPECT_EQ(std::optional<int>(0), Stop());
}

TEST_F(LogFaultTest, StopWithoutItsLogStillSavesAndSucceeds) {
  StartServing({});
  ASSERT_EQ(302, Request(port_, "POST", "/pelorin/index.htm", "bob", "pw", kInsertUnsavedCard).Status);
  BreakTheLog();
  EXPECT_EQ(std::optional<int>(0), Stop());
  EXPECT_NE(std::string::npos, ReadFile(CardStorePath()).find("<FN>Unsaved Card</FN>"));
  EXPECT_FALSE(AnyRegularLogFile(app_));
}

}  // namespace
}  // namespace pelorin::testing
