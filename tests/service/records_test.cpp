// The record commands of a form post through HTTPServerCommandGet: delete with
// and without the owner condition, edit, insert with its IDs, the cross-site
// refusal, the save timer and the redirect.
#include <cstdint>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/service/web_fixture.h"

namespace pelorin::testing {
namespace {

using ::testing::ElementsAre;

constexpr char kCards[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xBase>"
    "<vCard><FN>A1</FN><OWNER>alice</OWNER><ID>1</ID></vCard>"
    "<vCard><FN>B1</FN><OWNER>bob</OWNER><ID>2</ID></vCard>"
    "<vCard><FN>A2</FN><OWNER>alice</OWNER><ID>3</ID></vCard>"
    "</xBase>";

// 1 January 2001 12:00 local time as nanoseconds since 30 December 1899.
constexpr std::int64_t kNoon2001 = (36892LL * 86400 + 12 * 3600) * 1'000'000'000;
constexpr std::int64_t kUnit = 86400;  // nanoseconds per ID unit

class RecordsTest : public TWebTest {
 protected:
  void SetUp() override { StartWith(kCards); }

  // The clock reads `start` `repeats` times, then moves one ID unit per reading.
  void FixClock(std::int64_t start, int repeats = 1) {
    TStoreGuard guard(service_->StoreLock);
    readings_ = 0;
    service_->SetRecordClock([this, start, repeats] {
      const int n = readings_++;
      return start + (n < repeats ? 0 : (n - repeats + 1) * kUnit);
    });
  }

  int readings_ = 0;
};

TEST_F(RecordsTest, DeleteBelowTheCardAreaReachesOnlyTheUsersCards) {
  const ResponseInfo res = Post("/pelorin/index.htm", {{"xPath", "/*/vCard"}, {"Command", "delete"},
                                                       {"Redirect", "index.htm"}});
  EXPECT_EQ(302, res.StatusCode);
  EXPECT_EQ("index.htm", LocationOf(res));
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("B1"));
  EXPECT_TRUE(TimerEnabled());
}

TEST_F(RecordsTest, OwnerConditionAppliesToAnyCaseOfTheCardArea) {
  Post("/PELORIN/x.htm", {{"xPath", "/*/vCard"}, {"Command", "delete"}}, "bob", "pw");
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("A1", "A2"));
}

TEST_F(RecordsTest, DeleteOutsideTheCardAreaRemovesEveryMatch) {
  // Two accounts are named "dup" in two cases; both go.
  const ResponseInfo res = Post("/user/index.htm", {{"xPath", "/xUser/User[translate(USER,'DUP','dup')='dup']"},
                                                    {"Command", "delete"}, {"Redirect", "../user/index.htm"}});
  EXPECT_EQ(302, res.StatusCode);
  EXPECT_EQ(std::string::npos, UserStoreText().find(">dup<"));
  EXPECT_EQ(std::string::npos, UserStoreText().find(">DUP<"));
  EXPECT_NE(std::string::npos, UserStoreText().find("Alice A"));
  // Every path outside the user and configuration areas reaches the card store,
  // and there only the user's own cards: bob's card stays.
  for (const char* path : {"/other/x.htm", "/index.htm", "//pelorin/index.htm"}) {
    EXPECT_EQ(302, Post(path, {{"xPath", "/*/vCard[ID='2']"}, {"Command", "delete"}}).StatusCode) << path;
    EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("A1", "B1", "A2")) << path;
  }
}

TEST_F(RecordsTest, UnionCannotEscapeTheOwnerConditionAndAnswersAsForNothing) {
  // Another user's card that the XPath selects is passed over exactly as if the
  // XPath had not selected it: the answer tells nothing about it.
  const std::string xpath = "/*/vCard[ID='2'] | /*/vCard[ID='1']";
  const ResponseInfo res = Post("/pelorin/index.htm", {{"xPath", xpath}, {"Command", "delete"}, {"Redirect", "i"}});
  const ResponseInfo nothing =
      Post("/pelorin/index.htm", {{"xPath", "/*/vCard[ID='9']"}, {"Command", "delete"}, {"Redirect", "i"}});
  EXPECT_EQ(302, res.StatusCode);
  EXPECT_EQ(nothing.StatusCode, res.StatusCode);
  EXPECT_EQ(nothing.Body, res.Body);
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("B1", "A2"));  // alice's own card went
  EXPECT_EQ(std::string::npos, LogText().find("Error deleting"));
}

TEST_F(RecordsTest, DeleteOfANodeThatCannotBeRemovedEndsWithTheError) {
  for (const char* xpath : {"/xUser", "/*"}) {
    const ResponseInfo res = Post("/user/index.htm", {{"xPath", xpath}, {"Command", "delete"}});
    EXPECT_EQ(500, res.StatusCode) << xpath;
    EXPECT_EQ(std::string("Error deleting record: ") + xpath, res.Body);
  }
  EXPECT_NE(std::string::npos, UserStoreText().find("Alice A"));
}

TEST_F(RecordsTest, DeleteMatchingNothingStillSavesAndRedirects) {
  const ResponseInfo res = Post("/pelorin/index.htm", {{"xPath", "/*/vCard[ID='2']"}, {"Command", "delete"},
                                                       {"Redirect", "index.htm"}});
  EXPECT_EQ(302, res.StatusCode);
  EXPECT_TRUE(TimerEnabled());
  EXPECT_EQ(3u, CardTexts("/*/vCard").size());
}

TEST_F(RecordsTest, CommandWordsAreCaseSensitiveSubstrings) {
  const struct {
    const char* command;
    std::vector<std::string> names;
  } cases[] = {
      {"Delete", {"A1", "B1", "A2", "A2"}},            // nothing deleted; A2 still there, X not inserted
      {"INSERT", {"A1", "B1", "A2", "A2"}},
      {"undeleted", {"A1", "B1", "A2"}},               // contains "delete": only the delete runs
      {"delete insert", {"A1", "B1", "A2"}},
      {"edit+insert", {"A1", "B1", "A2", "X", "X"}},   // the edit, then the insert
      {"reinserted", {"A1", "B1", "A2", "A2", "X"}},
  };
  for (const auto& c : cases) {
    service_.reset();
    StartWith(std::string(kCards).replace(std::string(kCards).find("</xBase>"), 8,
                                          "<vCard><FN>A2</FN><OWNER>alice</OWNER><ID>4</ID></vCard></xBase>"));
    const ResponseInfo res = Post("/pelorin/index.htm", {{"xPath", "/*/vCard[ID='4']"}, {"Command", c.command},
                                                         {"XML", "<vCard><FN>X</FN></vCard>"}, {"Redirect", "r"}});
    EXPECT_EQ(302, res.StatusCode) << c.command;
    EXPECT_EQ(c.names, CardTexts("/*/vCard/FN")) << c.command;
  }
}

TEST_F(RecordsTest, EditMovesTheRecordToTheEndKeepingItsId) {
  const ResponseInfo res = Post("/pelorin/edit.htm", {{"xPath", "/*/vCard[ID='1']"}, {"Command", "edit"},
                                                      {"XML", "<vCard><FN>A1 new</FN><OWNER>bob</OWNER><ID>1</ID></vCard>"},
                                                      {"Redirect", "index.htm"}});
  EXPECT_EQ(302, res.StatusCode);
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("B1", "A2", "A1 new"));
  EXPECT_THAT(CardTexts("/*/vCard[last()]/ID"), ElementsAre("1"));
  // Only the service names the owner in the card store: the posted one is dropped.
  EXPECT_THAT(CardTexts("/*/vCard[last()]/OWNER"), ElementsAre("alice"));
  EXPECT_TRUE(TimerEnabled());
}

TEST_F(RecordsTest, AnotherUsersCardCannotBeEdited) {
  const std::string before = CardsText();
  const ResponseInfo res = Post("/pelorin/edit.htm", {{"xPath", "/*/vCard[ID='1']"}, {"Command", "edit"},
                                                      {"XML", "<vCard><FN>taken</FN><ID>1</ID></vCard>"}},
                                "bob", "pw");
  EXPECT_EQ(302, res.StatusCode);  // as for an XPath that selects nothing
  EXPECT_EQ(before, CardsText());
}

TEST_F(RecordsTest, EditMatchingNothingChangesNothing) {
  const std::string before = CardsText();
  EXPECT_EQ(302, Post("/pelorin/i.htm", {{"xPath", "/*/vCard[ID='9']"}, {"Command", "edit"},
                                         {"XML", "<vCard/>"}}).StatusCode);
  EXPECT_EQ(before, CardsText());
}

TEST_F(RecordsTest, EditWithABrokenFragmentOrAnUnremovableNodeFails) {
  const std::string before = CardsText();
  const struct {
    const char* xpath;
    const char* xml;
  } cases[] = {{"/*/vCard[ID='1']", "<vCard><FN>broken</vCard>"}};
  for (const auto& c : cases) {
    const ResponseInfo res = Post("/pelorin/i.htm", {{"xPath", c.xpath}, {"Command", "edit insert"}, {"XML", c.xml}});
    EXPECT_EQ(500, res.StatusCode) << c.xpath;
    EXPECT_EQ(std::string("Error editing record: ") + c.xpath, res.Body);
    EXPECT_EQ(before, CardsText()) << c.xpath;  // no insert ran
  }
  // The document element cannot be replaced: the replacement is taken out again.
  const std::string users = UserStoreText();
  for (const char* xpath : {"/xUser", "/*"}) {
    const ResponseInfo res = Post("/user/i.htm", {{"xPath", xpath}, {"Command", "edit insert"},
                                                  {"XML", "<User><USER>beside</USER></User>"}});
    EXPECT_EQ(500, res.StatusCode) << xpath;
    EXPECT_EQ(std::string("Error editing record: ") + xpath, res.Body);
    EXPECT_EQ(users, UserStoreText()) << xpath;
  }
  EXPECT_FALSE(TimerEnabled());
}

TEST_F(RecordsTest, InsertAddsOwnerAndReplacesTheFirstId) {
  FixClock(kNoon2001);
  const ResponseInfo res = Post("/pelorin/new.htm", {{"Command", "insert"},
                                                     {"XML", "<vCard><FN>N</FN><ID>old</ID><TEL>1</TEL></vCard>"},
                                                     {"Redirect", "index.htm"}});
  EXPECT_EQ(302, res.StatusCode);
  EXPECT_EQ("index.htm", LocationOf(res));
  EXPECT_NE(std::string::npos,
            CardsText().find("<vCard>\r\n    <FN>N</FN>\r\n    <TEL>1</TEL>\r\n    <OWNER>alice</OWNER>\r\n"
                             "    <ID>36892500000000</ID>\r\n  </vCard>\r\n</xBase>"))
      << CardsText();
  EXPECT_TRUE(TimerEnabled());
}

TEST_F(RecordsTest, InsertWithTwoIdsKeepsTheSecond) {
  FixClock(kNoon2001);
  Post("/pelorin/new.htm", {{"Command", "insert"}, {"XML", "<vCard><ID>x</ID><FN>N</FN><ID>y</ID></vCard>"}});
  EXPECT_THAT(CardTexts("/*/vCard[last()]/*"), ElementsAre("N", "y", "alice", "36892500000000"));
}

TEST_F(RecordsTest, TwoInsertsInOneClockUnitGetDifferentIds) {
  FixClock(kNoon2001, 5);  // the clock stays on one unit for five readings
  for (int i = 0; i < 2; ++i) Post("/pelorin/new.htm", {{"Command", "insert"}, {"XML", "<vCard/>"}});
  EXPECT_THAT(CardTexts("/*/vCard[position() > 3]/ID"), ElementsAre("36892500000000", "36892500000001"));
  EXPECT_GE(readings_, 6);  // the second insert waited for the clock to move on
}

TEST_F(RecordsTest, NewIdsAvoidEveryCardsFirstIdThroughEveryChange) {
  const std::string x = "36892500000000";
  // A loaded card already holds the ID the clock gives.
  Post("/pelorin/i.htm", {{"Command", "insert"}, {"XML", "<vCard><FN>has x</FN><ID>" + x + "</ID></vCard>"}});
  {
    TStoreGuard guard(service_->StoreLock);
    service_->XMLDom.Dom().SelectNode("/*/vCard[FN='has x']/ID");
    service_->XMLDom.Dom().SetText(x);  // a change outside the insert path
  }
  FixClock(kNoon2001);
  Post("/pelorin/i.htm", {{"Command", "insert"}, {"XML", "<vCard><FN>next</FN></vCard>"}});
  EXPECT_THAT(CardTexts("/*/vCard[FN='next']/ID"), ElementsAre("36892500000001"));
  // Once the card with x is deleted, x is free again.
  Post("/pelorin/i.htm", {{"xPath", "/*/vCard[FN='has x']"}, {"Command", "delete"}});
  FixClock(kNoon2001);
  Post("/pelorin/i.htm", {{"Command", "insert"}, {"XML", "<vCard><FN>again</FN></vCard>"}});
  EXPECT_THAT(CardTexts("/*/vCard[FN='again']/ID"), ElementsAre(x));
  // An edit that brings x back is seen too.
  Post("/pelorin/i.htm", {{"xPath", "/*/vCard[FN='again']"}, {"Command", "edit"},
                          {"XML", "<vCard><FN>edited</FN><ID>" + x + "</ID></vCard>"}});
  FixClock(kNoon2001);
  Post("/pelorin/i.htm", {{"Command", "insert"}, {"XML", "<vCard><FN>last</FN></vCard>"}});
  // x and x+1 are both taken now.
  EXPECT_THAT(CardTexts("/*/vCard[FN='last']/ID"), ElementsAre("36892500000002"));
}

TEST_F(RecordsTest, BrokenFragmentLeavesTheStoreAsItWas) {
  const std::string before = CardsText();
  const ResponseInfo res = Post("/pelorin/new.htm", {{"Command", "insert"}, {"XML", "<vCard><FN>x</vCard>"},
                                                     {"Redirect", "index.htm"}});
  EXPECT_EQ(500, res.StatusCode);
  ASSERT_TRUE(res.Body.starts_with("Error inserting record.")) << res.Body;
  EXPECT_GT(res.Body.size(), std::string("Error inserting record.").size());  // the parser's message follows
  EXPECT_NE(' ', res.Body[std::string("Error inserting record.").size()]);
  EXPECT_EQ(before, CardsText());
  EXPECT_EQ("", LocationOf(res));
  EXPECT_FALSE(TimerEnabled());
  EXPECT_NE(std::string::npos, LogText().find("Error inserting record."));
}

TEST_F(RecordsTest, PostWithoutRedirectOrCommandStillSaves) {
  const ResponseInfo res = Post("/pelorin/index.htm", {{"Command", "nothing"}});
  EXPECT_EQ(302, res.StatusCode);
  EXPECT_EQ("", LocationOf(res));
  EXPECT_TRUE(TimerEnabled());
  EXPECT_EQ(3u, CardTexts("/*/vCard").size());
}

TEST_F(RecordsTest, EmptyXmlInsertsNothing) {
  const std::string before = CardsText();
  EXPECT_EQ(302, Post("/pelorin/index.htm", {{"Command", "insert"}, {"XML", ""}}).StatusCode);
  EXPECT_EQ(before, CardsText());
}

TEST_F(RecordsTest, InsertIntoTheUserStoreMarksTheRecordToo) {
  FixClock(kNoon2001);
  Post("/user/new.htm", {{"Command", "insert"},
                         {"XML", "<User><USER>carol</USER><PASSWORD>c</PASSWORD><NAME>C</NAME></User>"}});
  EXPECT_NE(std::string::npos, UserStoreText().find("<NAME>C</NAME>\r\n    <OWNER>alice</OWNER>\r\n    "
                                                    "<ID>36892500000000</ID>"));
}

class CrossSiteTest : public RecordsTest {
 protected:
  ResponseInfo DeleteAll(const std::vector<std::string>& headers) {
    return Send("POST", "/pelorin/index.htm", "xPath=%2F*%2FvCard&Command=delete&Redirect=index.htm", "Alice",
                "Secret1", headers, "Pelorin.Test:9555");
  }
};

TEST_F(CrossSiteTest, PostsNamingAnotherHostAreRefusedBeforeAnyCommand) {
  for (const std::vector<std::string>& headers : std::vector<std::vector<std::string>>{
           {"Origin: http://evil.example"},
           {"Origin: http://pelorin.test"},            // another port
           {"Origin: http://pelorin.test:9556"},
           {"Origin: null"},
           {"Origin: pelorin.test:9555"},              // no scheme
           {"Origin: http://user@pelorin.test:9555"},
           {"Referer: https://evil.example/page.htm"},
           {"Referer: /pelorin/index.htm"},
           {"Origin: http://evil.example", "Referer: http://pelorin.test:9555/pelorin/index.htm"},
       }) {
    const ResponseInfo res = DeleteAll(headers);
    EXPECT_EQ(403, res.StatusCode) << headers.front();
    EXPECT_EQ("Cross-site request refused.", res.Body);
  }
  EXPECT_EQ(3u, CardTexts("/*/vCard").size());
  EXPECT_FALSE(TimerEnabled());
}

// Behind a proxy that holds the certificate, the page's origin is the HTTPS
// site while the listener speaks plain HTTP: the proxy's X-Forwarded-Proto
// says which, and is believed from a trusted proxy only.
TEST_F(CrossSiteTest, TheSchemeOfATrustedProxyCountsForTheOrigin) {
  WriteStores("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xConfig><ServiceProviderPort>0</ServiceProviderPort>"
              "<TrustedProxy>127.0.0.1</TrustedProxy></xConfig>",
              kCards);
  ASSERT_TRUE(Start());
  const std::vector<std::string> proxied = {"Origin: https://pelorin.test:9555", "X-Forwarded-Proto: https"};
  peer_address_ = "192.0.2.1";
  EXPECT_EQ(403, DeleteAll(proxied).StatusCode);  // not the proxy: its word counts for nothing
  EXPECT_EQ(3u, CardTexts("/*/vCard").size());
  peer_address_ = "127.0.0.1";
  EXPECT_EQ(403, DeleteAll({"Origin: https://pelorin.test:9555"}).StatusCode);
  EXPECT_EQ(403, DeleteAll({"Origin: http://pelorin.test:9555", "X-Forwarded-Proto: https"}).StatusCode);
  EXPECT_EQ(302, DeleteAll(proxied).StatusCode);
  EXPECT_EQ(1u, CardTexts("/*/vCard").size());  // bob's card stays
}

TEST_F(CrossSiteTest, SameHostAndPostsWithoutEitherHeaderAreServed) {
  for (const std::vector<std::string>& headers : std::vector<std::vector<std::string>>{
           {"Origin: http://pelorin.test:9555"},
           {"origin: HTTP://PELORIN.TEST:9555"},
           {"Referer: http://pelorin.test:9555/pelorin/index.htm?q=1"},
           {"Origin: http://pelorin.test:9555", "Referer: http://evil.example/"},
           {},
       }) {
    EXPECT_EQ(302, DeleteAll(headers).StatusCode) << (headers.empty() ? "none" : headers.front());
  }
  // GETs are not checked: rendering changes nothing.
  EXPECT_NE(403, Send("GET", "/pelorin/x.css", "", "Alice", "Secret1", {"Origin: http://evil.example"}).StatusCode);
}

}  // namespace
}  // namespace pelorin::testing
