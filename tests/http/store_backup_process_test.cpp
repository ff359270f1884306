// The backup taken while the service runs (POST /config/backup): what it
// writes, that it is whole and of one moment while writers go on, that a
// service started on it serves the same cards, and who may take one.
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/http/server_process.h"

namespace pelorin::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kUsers[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xUser>"
    "<User><USER>admin</USER><PASSWORD>admin</PASSWORD><NAME>Administrator</NAME><ADMIN/></User>"
    "<User><USER>bob</USER><PASSWORD>pw</PASSWORD><NAME>Bob</NAME></User>"
    "</xUser>";
constexpr char kCards[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase>"
    "<vCard><FN>First Card</FN><OWNER>bob</OWNER><ID>1</ID></vCard></xBase>";
constexpr char kBackupAnswerStart[] = "Backup written to ";
constexpr char kBackupAnswerEnd[] = "/ in the application directory.\n";
const char* const kStoreFiles[] = {"config/config.xml", "pelorin/base.xml", "user/user.xml"};

std::string InsertCard(const std::string& name) {
  return "Command=insert&XML=%3CvCard%3E%3CFN%3E" + name + "%3C%2FFN%3E%3C%2FvCard%3E&Redirect=index.htm";
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

class StoreBackupTest : public ::testing::Test {
 protected:
  void SetUp() override { Prepare(app_, port_); }
  static void Prepare(TAppDir& app, std::uint16_t port) {
    WriteFile(app.File("config/config.xml"), TAppDir::ConfigWithPort(port));
    WriteFile(app.File("pelorin/base.xml"), kCards);
    WriteFile(app.File("user/user.xml"), kUsers);
    WriteFile(app.File("pelorin/names.vcf.xsl"), kNamesStylesheet);
  }
  void Start() {
    server_ = std::make_unique<TServerProcess>(app_.Executable());
    ASSERT_TRUE(server_->WaitForPort(port_)) << app_.LogText();
  }
  std::optional<int> Stop() {
    server_->Signal(SIGTERM);
    return server_->WaitForExit();
  }
  THttpAnswer Backup(const std::string& user = "admin", const std::string& password = "admin") {
    return Request(port_, "POST", "/config/backup", user, password);
  }
  // The backup directory the answer names, below the application directory.
  static std::string BackupDirOf(const THttpAnswer& answer) {
    const std::string& body = answer.Body;
    if (!body.starts_with(kBackupAnswerStart) || !body.ends_with(kBackupAnswerEnd)) return "";
    return body.substr(sizeof kBackupAnswerStart - 1,
                       body.size() - (sizeof kBackupAnswerStart - 1) - (sizeof kBackupAnswerEnd - 1));
  }
  std::string Names(std::uint16_t port) { return Request(port, "GET", "/pelorin/names.vcf", "bob", "pw").Body; }

  TAppDir app_;
  std::uint16_t port_ = FreePort();
  std::unique_ptr<TServerProcess> server_;
};

TEST_F(StoreBackupTest, WritesTheThreeStoresAsASaveWouldAndAServiceStartedOnThemServesTheSameCards) {
  Start();
  ASSERT_EQ(302, Request(port_, "POST", "/pelorin/index.htm", "bob", "pw", InsertCard("Unsaved+Card")).Status);
  const THttpAnswer answer = Backup();
  ASSERT_EQ(200, answer.Status) << answer.Body;
  EXPECT_EQ("text/plain", HeaderOf(answer, "Content-Type").substr(0, 10));
  const std::string dir = BackupDirOf(answer);
  ASSERT_TRUE(dir.starts_with("backup/")) << answer.Body;
  EXPECT_NE(std::string::npos, app_.LogText().find(": Backup of the stores written to " + dir + "\r\n"));
  // Only whole backups carry their name: nothing is left half-way.
  for (const auto& entry : fs::directory_iterator(app_.File("backup"))) {
    EXPECT_EQ("", entry.path().extension().string()) << entry.path();
  }
  // The change was not saved yet; the backup holds it all the same.
  EXPECT_EQ(std::string::npos, ReadFile(app_.File("pelorin/base.xml")).find("Unsaved Card"));

  // Nothing changed since: the stop's save writes the very same bytes.
  ASSERT_EQ(std::optional<int>(0), Stop());
  for (const char* file : kStoreFiles) {
    const std::string copy = app_.File(dir + "/" + file);
    EXPECT_EQ(ReadFile(app_.File(file)), ReadFile(copy)) << file;
    struct stat status {};
    ASSERT_EQ(0, ::stat(copy.c_str(), &status)) << copy;
    EXPECT_EQ(0600u, status.st_mode & 0777u) << file;  // the user store holds passwords
  }

  // Restoring is copying the files into an application directory.
  TAppDir restored;
  const std::uint16_t port = FreePort();
  Prepare(restored, port);
  for (const char* file : {"pelorin/base.xml", "user/user.xml"}) {
    WriteFile(restored.File(file), ReadFile(app_.File(dir + "/" + file)));
  }
  TServerProcess again(restored.Executable());
  ASSERT_TRUE(again.WaitForPort(port)) << restored.LogText();
  EXPECT_EQ("First Card|Unsaved Card|", Names(port));
}

TEST_F(StoreBackupTest, BackupsTakenWhileCardsAreWrittenEachHoldEveryCardAnsweredBeforeThem) {
  Start();
  std::atomic<int> answered{0};
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; !stop; ++i) {
      if (Request(port_, "POST", "/pelorin/index.htm", "bob", "pw", InsertCard("Card+" + std::to_string(i))).Status !=
          302) {
        return;
      }
      ++answered;
    }
  });
  struct TTaken {
    std::string Dir;
    int AnsweredBefore;
    int AnsweredAfter;
  };
  std::vector<TTaken> taken;
  for (int i = 0; i < 8; ++i) {
    const int before = answered;
    const THttpAnswer answer = Backup();
    const int after = answered;
    ASSERT_EQ(200, answer.Status) << answer.Body;
    taken.push_back({BackupDirOf(answer), before, after});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  stop = true;
  writer.join();
  ASSERT_GT(answered.load(), 0);

  std::vector<std::string> names;
  for (const TTaken& backup : taken) {
    const std::string cards = ReadFile(app_.File(backup.Dir + "/pelorin/base.xml"));
    ASSERT_TRUE(cards.ends_with("</xBase>")) << backup.Dir << cards.substr(cards.size() - 20);
    // The first card and every insert answered before, at most the one on its way.
    const int held = static_cast<int>(Count(cards, "<vCard>"));
    EXPECT_GE(held, 1 + backup.AnsweredBefore) << backup.Dir;
    EXPECT_LE(held, 1 + backup.AnsweredAfter + 1) << backup.Dir;
    names.push_back(backup.Dir);
  }
  // Every backup has a name of its own, also within one second.
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names.end(), std::adjacent_find(names.begin(), names.end()));
}

TEST_F(StoreBackupTest, OnlyAnAdministratorTakesOneAndNeverFromAnotherSite) {
  Start();
  const THttpAnswer user = Backup("bob", "pw");
  EXPECT_EQ(403, user.Status);
  EXPECT_EQ("User needs administrator rights.", user.Body);
  const std::string request = "POST /config/backup HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                              "\r\nAuthorization: " + BasicCredentials("admin", "admin") +
                              "\r\nOrigin: http://attacker.example\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  const THttpAnswer cross_site = ParseAnswer(Exchange(port_, request));
  EXPECT_EQ(403, cross_site.Status);
  EXPECT_EQ("Cross-site request refused.", cross_site.Body);
  EXPECT_FALSE(fs::exists(app_.File("backup")));
}

TEST_F(StoreBackupTest, ABackupThatCannotBeWrittenIsReportedAndTheServiceGoesOn) {
  Start();
  WriteFile(app_.File("backup"), "a file where the backups go");
  const THttpAnswer answer = Backup();
  EXPECT_EQ(500, answer.Status);
  EXPECT_EQ(0u, answer.Body.find("The backup could not be written: Could not create ")) << answer.Body;
  EXPECT_NE(std::string::npos, app_.LogText().find("The backup could not be written: "));
  ASSERT_EQ(302, Request(port_, "POST", "/pelorin/index.htm", "bob", "pw", InsertCard("Later")).Status);
  EXPECT_EQ("First Card|Later|", Names(port_));
  EXPECT_EQ(std::optional<int>(0), Stop());
}

}  // namespace
}  // namespace pelorin::testing
