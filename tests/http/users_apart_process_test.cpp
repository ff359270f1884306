// Two ordinary accounts, alice and bob, against the real executable: whatever path
// a post names and whatever its XPath selects, bob's edits and deletes reach only
// bob's cards, no answer or log line tells him anything about alice's, and he
// cannot plant a card in her list. Administrators keep their rights over accounts.
#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/form_encode.h"
#include "tests/http/server_process.h"

namespace pelorin::testing {
namespace {

constexpr char kUsers[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xUser>"
    "<User><USER>admin</USER><PASSWORD>admin</PASSWORD><NAME>Administrator</NAME><ADMIN/></User>"
    "<User><USER>alice</USER><PASSWORD>pa</PASSWORD><NAME>Alice</NAME></User>"
    "<User><USER>bob</USER><PASSWORD>pb</PASSWORD><NAME>Bob</NAME></User>"
    "</xUser>";
constexpr char kCards[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase>"
    "<vCard><FN>Alice Card</FN><TEL><NUMBER>+41 44 123 45 67</NUMBER></TEL><OWNER>alice</OWNER><ID>11</ID></vCard>"
    "<vCard><FN>Bob Card</FN><OWNER>bob</OWNER><ID>21</ID></vCard>"
    "</xBase>";
// Every card of the store as "FN(owner,owner,)|", whoever asks.
constexpr char kDumpStylesheet[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n"
    "  <xsl:output method=\"text\"/>\n"
    "  <xsl:template match=\"/\"><xsl:for-each select=\"/*/vCard\"><xsl:value-of select=\"FN\"/>("
    "<xsl:for-each select=\"OWNER\"><xsl:value-of select=\".\"/>,</xsl:for-each>)|</xsl:for-each>"
    "</xsl:template>\n"
    "</xsl:stylesheet>\n";
constexpr char kBothCards[] = "Alice Card(alice,)|Bob Card(bob,)|";

using TField = std::pair<std::string, std::string>;

// The log lines without their time of day, which differs from one answer to the next.
std::vector<std::string> LogMessages(const std::string& log) {
  std::vector<std::string> messages;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(start, end - start);
    const std::size_t text = line.find(": ");
    messages.push_back(text == std::string::npos ? line : line.substr(text + 2));
    start = end + 1;
  }
  return messages;
}

class UsersApartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(app_.File("config/config.xml"), TAppDir::ConfigWithPort(port_));
    WriteFile(app_.File("pelorin/base.xml"), kCards);
    WriteFile(app_.File("user/user.xml"), kUsers);
    WriteFile(app_.File("pelorin/dump.vcf.xsl"), kDumpStylesheet);
    Launch();
  }
  void Launch() {
    server_ = std::make_unique<TServerProcess>(app_.Executable());
    ASSERT_TRUE(server_->WaitForPort(port_)) << app_.LogText();
  }
  void StopAndRestart() {
    server_->Signal(SIGTERM);
    ASSERT_EQ(std::optional<int>(0), server_->WaitForExit());
    Launch();
  }

  THttpAnswer Post(const std::string& target, const std::vector<TField>& fields, const std::string& user = "bob",
                   const std::string& password = "pb") {
    return Request(port_, "POST", target, user, password, FormBody(fields));
  }
  int Get(const std::string& target, const std::string& user, const std::string& password) {
    return Request(port_, "GET", target, user, password).Status;
  }
  // Every card with its owners: alice's, then bob's, as each sees the card
  // area (a page there is given its user's own cards only).
  std::string Dump() {
    return Request(port_, "GET", "/pelorin/dump.vcf", "alice", "pa").Body +
           Request(port_, "GET", "/pelorin/dump.vcf", "bob", "pb").Body;
  }

  // Bob's answer to a delete and the log lines it added.
  struct TTrace {
    std::string Head;
    std::string Body;
    std::vector<std::string> Log;
  };
  TTrace Trace(const std::string& target, const std::vector<TField>& fields) {
    const std::size_t logged = LogMessages(app_.LogText()).size();
    const THttpAnswer answer = Post(target, fields);
    std::vector<std::string> log = LogMessages(app_.LogText());
    log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(std::min(logged, log.size())));
    return {answer.Head, answer.Body, log};
  }

  TAppDir app_;
  std::uint16_t port_ = FreePort();
  std::unique_ptr<TServerProcess> server_;
};

// "/index.htm", "//pelorin/index.htm" and "/other/x.htm" address the card store as
// "/pelorin/index.htm" does, so every one of them keeps to the poster's cards.
TEST_F(UsersApartTest, AnotherUsersCardIsNeitherEditedNorDeletedWhateverThePath) {
  const std::vector<std::string> targets = {"/pelorin/index.htm", "/index.htm", "//pelorin/index.htm",
                                            "/other/x.htm", "/PELORIN/index.htm", "/pelorin/../pelorin/index.htm"};
  for (const std::string& target : targets) {
    for (const char* xpath : {"/*/vCard[ID=\"11\"]", "//vCard", "/*/*", "//vCard[OWNER=\"alice\"]"}) {
      const THttpAnswer edit = Post(target, {{"Command", "edit"},
                                             {"xPath", xpath},
                                             {"XML", "<vCard><FN>Taken by bob</FN></vCard>"},
                                             {"Redirect", "index.htm"}});
      EXPECT_NE(500, edit.Status) << target << " " << xpath << "\n" << edit.Body;
      const std::string after_edit = Dump();
      // An edit that reaches bob's own card moves it; alice's card stays whole.
      EXPECT_NE(std::string::npos, after_edit.find("Alice Card(alice,)|")) << target << " " << xpath;
      EXPECT_EQ(std::string::npos, after_edit.find("Taken by bob(alice,)")) << target << " " << xpath;

      const THttpAnswer erase = Post(target, {{"Command", "delete"}, {"xPath", xpath}, {"Redirect", "index.htm"}});
      EXPECT_NE(500, erase.Status) << target << " " << xpath << "\n" << erase.Body;
      EXPECT_NE(std::string::npos, Dump().find("Alice Card(alice,)|")) << target << " " << xpath;
    }
  }
  StopAndRestart();
  EXPECT_NE(std::string::npos, Dump().find("Alice Card(alice,)|"));
  EXPECT_NE(std::string::npos, ReadFile(app_.File("pelorin/base.xml")).find("+41 44 123 45 67"));
}

// The same paths do reach the poster's own cards: the rule keeps users apart, it
// does not make the other paths useless.
TEST_F(UsersApartTest, TheOwnerReachesOwnCardsThroughEveryCardPath) {
  const THttpAnswer edit = Post("/index.htm", {{"Command", "edit"},
                                               {"xPath", "/*/vCard[ID=\"21\"]"},
                                               {"XML", "<vCard><FN>Bob Edited</FN><ID>21</ID></vCard>"},
                                               {"Redirect", "index.htm"}});
  EXPECT_EQ(302, edit.Status) << edit.Body;
  EXPECT_EQ("Alice Card(alice,)|Bob Edited(bob,)|", Dump());
  const THttpAnswer erase = Post("/other/x.htm", {{"Command", "delete"}, {"xPath", "//vCard"}});
  EXPECT_EQ(302, erase.Status) << erase.Body;
  EXPECT_EQ("Alice Card(alice,)|", Dump());
}

// Bob guesses alice's number digit by digit with a union that escapes the owner
// condition: a right guess, a wrong guess and a query that selects nothing must
// give the same status, head, body and log lines.
TEST_F(UsersApartTest, AUnionSelectingAnotherUsersCardAnswersAsOneSelectingNothing) {
  const auto delete_fields = [](const std::string& xpath) {
    return std::vector<TField>{{"Command", "delete"}, {"xPath", xpath}, {"Redirect", "index.htm"}};
  };
  const std::string right = "//vCard[OWNER=\"alice\"][starts-with(TEL/NUMBER,\"+41\")] | //nothing";
  const std::string wrong = "//vCard[OWNER=\"alice\"][starts-with(TEL/NUMBER,\"+49\")] | //nothing";
  for (const std::string& target : {std::string("/pelorin/index.htm"), std::string("/index.htm")}) {
    const TTrace nothing = Trace(target, delete_fields("//nothing"));
    const TTrace hit = Trace(target, delete_fields(right));
    const TTrace miss = Trace(target, delete_fields(wrong));
    EXPECT_EQ(0u, nothing.Head.find("HTTP/1.1 302 ")) << nothing.Head;
    EXPECT_EQ(nothing.Head, hit.Head) << target;
    EXPECT_EQ(nothing.Body, hit.Body) << target;
    EXPECT_EQ(nothing.Log, hit.Log) << target;
    EXPECT_EQ(nothing.Head, miss.Head) << target;
    EXPECT_EQ(nothing.Log, miss.Log) << target;

    // The same for an edit: alice's card is never the one replaced.
    const auto edit_fields = [](const std::string& xpath) {
      return std::vector<TField>{
          {"Command", "edit"}, {"xPath", xpath}, {"XML", "<vCard><FN>x</FN></vCard>"}, {"Redirect", "index.htm"}};
    };
    const TTrace edit_nothing = Trace(target, edit_fields("//nothing"));
    const TTrace edit_hit = Trace(target, edit_fields(right));
    EXPECT_EQ(edit_nothing.Head, edit_hit.Head) << target;
    EXPECT_EQ(edit_nothing.Body, edit_hit.Body) << target;
    EXPECT_EQ(edit_nothing.Log, edit_hit.Log) << target;
  }
  EXPECT_EQ(kBothCards, Dump());
}

// OWNER is the service's to write in the card store: one posted in a fragment, in
// an edit or in an uploaded card is dropped and the poster's name stands alone.
TEST_F(UsersApartTest, OwnerPostedInAFragmentOrAnUploadIsDropped) {
  EXPECT_EQ(302, Post("/pelorin/index.htm", {{"Command", "insert"},
                                             {"XML", "<vCard><FN>Planted</FN><OWNER>alice</OWNER></vCard>"},
                                             {"Redirect", "index.htm"}})
                     .Status);
  EXPECT_EQ(302, Post("/index.htm", {{"Command", "edit"},
                                     {"xPath", "/*/vCard[ID=\"21\"]"},
                                     {"XML", "<vCard><FN>Bob Card</FN><OWNER>alice</OWNER><OWNER>admin</OWNER>"
                                             "<ID>21</ID></vCard>"},
                                     {"Redirect", "index.htm"}})
                     .Status);
  const std::string upload =
      "vcfupload\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nFN:Uploaded\r\nOWNER:alice\r\nEND:VCARD\r\n\r\n";
  const THttpAnswer uploaded = Request(port_, "POST", "/pelorin/index.htm", "bob", "pb", upload);
  EXPECT_EQ(302, uploaded.Status) << uploaded.Body;
  EXPECT_EQ("Alice Card(alice,)|Planted(bob,)|Bob Card(bob,)|Uploaded(bob,)|", Dump());
  // None of them shows up among alice's cards, as her own delete of all hers shows.
  EXPECT_EQ(302, Post("/pelorin/index.htm", {{"Command", "delete"}, {"xPath", "/*/vCard"}}, "alice", "pa").Status);
  EXPECT_EQ("Planted(bob,)|Bob Card(bob,)|Uploaded(bob,)|", Dump());
}

// The account and configuration areas are the administrators': their records
// have no owner, and an administrator changes any of them; an ordinary user gets
// no further than the refusal.
TEST_F(UsersApartTest, AdministratorsKeepTheirRightsOverAccountsAndConfiguration) {
  const THttpAnswer refused = Post("/user/index.htm", {{"Command", "delete"}, {"xPath", "/*/User[USER=\"alice\"]"}});
  EXPECT_EQ(403, refused.Status);
  EXPECT_EQ(200, Get("/pelorin/dump.vcf", "alice", "pa"));

  const THttpAnswer added = Post("/user/index.htm",
                                 {{"Command", "insert"},
                                  {"XML", "<User><USER>carol</USER><PASSWORD>pc</PASSWORD><NAME>Carol</NAME></User>"},
                                  {"Redirect", "index.htm"}},
                                 "admin", "admin");
  EXPECT_EQ(302, added.Status) << added.Body;
  EXPECT_EQ(200, Get("/pelorin/dump.vcf", "carol", "pc"));

  const THttpAnswer renamed = Post("/user/index.htm",
                                   {{"Command", "edit"},
                                    {"xPath", "/*/User[USER=\"bob\"]"},
                                    {"XML", "<User><USER>bob</USER><PASSWORD>new</PASSWORD><NAME>Bob</NAME></User>"},
                                    {"Redirect", "index.htm"}},
                                   "admin", "admin");
  EXPECT_EQ(302, renamed.Status) << renamed.Body;
  EXPECT_EQ(200, Get("/pelorin/dump.vcf", "bob", "new"));

  const THttpAnswer removed =
      Post("/user/index.htm", {{"Command", "delete"}, {"xPath", "/*/User[USER=\"alice\"]"}}, "admin", "admin");
  EXPECT_EQ(302, removed.Status) << removed.Body;
  EXPECT_EQ(401, Get("/pelorin/dump.vcf", "alice", "pa"));

  const THttpAnswer configured = Post("/config/index.htm",
                                      {{"Command", "insert"}, {"XML", "<Note>kept by the administrator</Note>"}},
                                      "admin", "admin");
  EXPECT_EQ(302, configured.Status) << configured.Body;
  StopAndRestart();
  EXPECT_NE(std::string::npos, ReadFile(app_.File("config/config.xml")).find("kept by the administrator"));
  EXPECT_EQ(200, Get("/pelorin/dump.vcf", "carol", "pc"));
}

}  // namespace
}  // namespace pelorin::testing
