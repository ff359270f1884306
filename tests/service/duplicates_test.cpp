// Likely duplicates and their merge: the groups and their reasons, a merge
// that loses no property, and the merge post through the store's gate (the
// owner's cards only, one journaled change).
#include "web/card_duplicates.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/service/web_fixture.h"
#include "xml/record_tree.h"

namespace pelorin::testing {
namespace {

using ::testing::ElementsAre;

TRecordElement CardOf(const std::string& xml) {
  std::optional<TRecordElement> card = RecordTreeFromXml(xml);
  EXPECT_TRUE(card.has_value()) << xml;
  return card.value_or(TRecordElement{});
}

std::vector<std::string> TextsOf(const TRecordElement& card, const std::string& name) {
  std::vector<std::string> texts;
  for (const TRecordElement& child : card.Children) {
    if (child.Name == name) texts.push_back(child.Text.empty() ? RecordXml(child) : child.Text);
  }
  return texts;
}

TEST(FindDuplicates, GroupsCardsSharingAnAddressANumberOrAFoldedName) {
  const std::vector<TRecordElement> cards = {
      CardOf("<vCard><FN>Anna Berg</FN><EMAIL><USERID>Anna@Example.org</USERID></EMAIL></vCard>"),
      CardOf("<vCard><FN>Carl</FN><TEL><NUMBER>+49 30 1234-567</NUMBER></TEL></vCard>"),
      CardOf("<vCard><FN>A. Berg</FN><EMAIL><USERID>anna@example.ORG</USERID></EMAIL></vCard>"),
      CardOf("<vCard><FN>Nobody Else</FN><TEL><NUMBER>12</NUMBER></TEL></vCard>"),
      CardOf("<vCard><N><FAMILY>Bj\xC3\xB6rk</FAMILY><GIVEN>\xC3\x89lise</GIVEN></N></vCard>"),
      CardOf("<vCard><FN>Carl Other</FN><TEL><NUMBER>(4930) 1234567</NUMBER></TEL></vCard>"),
      CardOf("<vCard><FN>elise BJORK</FN></vCard>"),
      CardOf("<vCard><FN>Short</FN><TEL><NUMBER>12</NUMBER></TEL></vCard>"),
  };
  const std::vector<TDuplicateGroup> groups = FindDuplicates(cards);
  ASSERT_EQ(3u, groups.size());
  EXPECT_THAT(groups[0].Cards, ElementsAre(0u, 2u));
  ASSERT_EQ(1u, groups[0].Reasons.size());
  EXPECT_EQ("e-mail", groups[0].Reasons[0].Kind);
  EXPECT_EQ("Anna@Example.org", groups[0].Reasons[0].Value);
  EXPECT_THAT(groups[1].Cards, ElementsAre(1u, 5u));
  EXPECT_EQ("phone", groups[1].Reasons.at(0).Kind);
  EXPECT_THAT(groups[2].Cards, ElementsAre(4u, 6u));
  EXPECT_EQ("name", groups[2].Reasons.at(0).Kind);
  // "12" on two cards is too short a number to say anything.
}

TEST(MergedCard, KeepsEveryPropertyOfBothAndTheKeptCardsIdentity) {
  const TRecordElement kept = CardOf(
      "<vCard><FN>Anna Berg</FN><N><FAMILY>Berg</FAMILY><GIVEN>Anna</GIVEN></N>"
      "<TEL><NUMBER>111111</NUMBER><HOME/></TEL><EMAIL><USERID>anna@example.org</USERID></EMAIL>"
      "<BDAY>1980-01-01</BDAY><PHOTO><TYPE>image/jpeg</TYPE><BINVAL>AAAA</BINVAL></PHOTO>"
      "<UID>urn:uuid:kept</UID><OWNER>alice</OWNER><ID>10</ID></vCard>");
  const TRecordElement other = CardOf(
      "<vCard><FN>Anna Lind</FN><N><FAMILY>Lind</FAMILY><GIVEN>Anna</GIVEN></N>"
      "<TEL><NUMBER>222222</NUMBER><CELL/></TEL><EMAIL><USERID>anna@example.org</USERID></EMAIL>"
      "<URL>https://example.org/</URL><PARAMS><GROUP>item1</GROUP></PARAMS>"
      "<BDAY>1981-02-02</BDAY><PHOTO><TYPE>image/png</TYPE><BINVAL>BBBB</BINVAL></PHOTO>"
      "<PROP><NAME>GENDER</NAME><VALUE>F</VALUE></PROP>"
      "<UID>urn:uuid:other</UID><OWNER>alice</OWNER><ID>11</ID></vCard>");
  const TRecordElement merged = MergedCard(kept, other);
  EXPECT_THAT(TextsOf(merged, "FN"), ElementsAre("Anna Berg"));
  EXPECT_THAT(TextsOf(merged, "NICKNAME"), ElementsAre("Anna Lind"));  // FN and N say the same other name
  EXPECT_EQ(2u, TextsOf(merged, "TEL").size());
  EXPECT_EQ(1u, TextsOf(merged, "EMAIL").size()) << "the same address is not kept twice";
  EXPECT_EQ(2u, TextsOf(merged, "PHOTO").size());
  EXPECT_THAT(TextsOf(merged, "BDAY"), ElementsAre("1980-01-01"));
  EXPECT_THAT(TextsOf(merged, "ID"), ElementsAre("10"));
  EXPECT_THAT(TextsOf(merged, "UID"), ElementsAre("urn:uuid:kept"));
  EXPECT_TRUE(TextsOf(merged, "OWNER").empty());
  const std::string xml = RecordXml(merged);
  EXPECT_NE(std::string::npos, xml.find("<URL>https://example.org/</URL><PARAMS><GROUP>item1</GROUP></PARAMS>"));
  EXPECT_NE(std::string::npos, xml.find("<PROP><NAME>X-MERGED-BDAY</NAME><VALUE>1981-02-02</VALUE></PROP>"));
  EXPECT_NE(std::string::npos, xml.find("<PROP><NAME>GENDER</NAME><VALUE>F</VALUE></PROP>"));
  ASSERT_TRUE(RecordTreeFromXml(xml).has_value());
  EXPECT_EQ(merged, *RecordTreeFromXml(xml));
}

TEST(MergedCard, AnAddressOrNumberWrittenOtherwiseIsKeptOnceWithBothCardsMarkers) {
  const TRecordElement kept = CardOf(
      "<vCard><FN>Selma</FN><TEL><NUMBER>+47 22 12 34 56</NUMBER><WORK/></TEL>"
      "<EMAIL><USERID>Selma.Haugen@Fjordlab.example</USERID><INTERNET/></EMAIL><ID>1</ID></vCard>");
  const TRecordElement other = CardOf(
      "<vCard><FN>Selma</FN><TEL><NUMBER>+4722123456</NUMBER><CELL/></TEL>"
      "<EMAIL><USERID>selma.haugen@fjordlab.example</USERID><PREF/></EMAIL>"
      "<EMAIL><USERID>selma@home.example</USERID></EMAIL><ID>2</ID></vCard>");
  const TRecordElement merged = MergedCard(kept, other);
  EXPECT_EQ(2u, TextsOf(merged, "EMAIL").size());
  EXPECT_EQ(1u, TextsOf(merged, "TEL").size());
  const std::string xml = RecordXml(merged);
  EXPECT_NE(std::string::npos, xml.find("<NUMBER>+47 22 12 34 56</NUMBER><WORK/><CELL/>")) << xml;
  EXPECT_NE(std::string::npos, xml.find("<USERID>Selma.Haugen@Fjordlab.example</USERID><INTERNET/><PREF/>")) << xml;
  EXPECT_NE(std::string::npos, xml.find("<USERID>selma@home.example</USERID>")) << xml;
}

constexpr char kCards[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xBase>"
    "<vCard><FN>Anna Berg</FN><TEL><NUMBER>111111</NUMBER></TEL><OWNER>alice</OWNER><ID>10</ID></vCard>"
    "<vCard><FN>Bob's</FN><OWNER>bob</OWNER><ID>20</ID></vCard>"
    "<vCard><FN>anna berg</FN><TEL><NUMBER>222222</NUMBER></TEL><OWNER>alice</OWNER><ID>11</ID></vCard>"
    "</xBase>";

class MergePostTest : public TWebTest {
 protected:
  void SetUp() override {
    WriteStores(kTestConfig, kCards);
    ASSERT_TRUE(Start(std::chrono::hours(1)));
  }
  ResponseInfo Merge(const std::string& keep, const std::string& other, const std::string& user = "Alice",
                     const std::string& password = "Secret1") {
    return Post("/pelorin/mergecards.htm", {{"Command", "merge"}, {"ID", keep}, {"OTHER", other}}, user, password);
  }
};

TEST_F(MergePostTest, MergesTheOwnersCardsInOneChangeThatSurvivesACrash) {
  const ResponseInfo res = Merge("10", "11");
  EXPECT_EQ(302, res.StatusCode) << res.Body;
  EXPECT_EQ("card.htm?ID=10", LocationOf(res));
  EXPECT_THAT(CardTexts("/*/vCard/ID"), ElementsAre("20", "10"));
  EXPECT_THAT(CardTexts("/*/vCard[ID='10']/TEL/NUMBER"), ElementsAre("111111", "222222"));
  EXPECT_THAT(CardTexts("/*/vCard[ID='10']/OWNER"), ElementsAre("alice"));
  EXPECT_TRUE(TimerEnabled());
  const std::string merged = CardsText();
  service_.reset();  // a crash: no save
  ASSERT_TRUE(Start(std::chrono::hours(1)));
  EXPECT_EQ(merged, CardsText());
}

TEST_F(MergePostTest, AnotherUsersCardIsNeverMergedNorRemoved) {
  const std::string before = CardsText();
  EXPECT_EQ(409, Merge("10", "20").StatusCode);
  EXPECT_EQ(409, Merge("20", "10").StatusCode);
  EXPECT_EQ(409, Merge("10", "11", "bob", "pw").StatusCode);
  EXPECT_EQ(409, Merge("10", "10").StatusCode);
  EXPECT_EQ(403, Send("POST", "/pelorin/mergecards.htm", "Command=merge&ID=10&OTHER=11", "Alice", "Secret1",
                      {"Origin: http://evil.test"})
                     .StatusCode);
  EXPECT_EQ(before, CardsText());
  TStoreGuard guard(service_->StoreLock);
  const TRecordOutcome gate = service_->XMLDom.MergeCards("10", "20", "<vCard><FN>x</FN></vCard>", "alice");
  EXPECT_EQ(TRecordOutcome::TStatus::Refused, gate.Status);
}

}  // namespace
}  // namespace pelorin::testing
