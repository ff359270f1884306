// The vCard upload step of a form post: cards in order with their marks, the
// redirect, the last card left for the insert step, refused cards and the
// report of what came in.
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/service/web_fixture.h"

namespace pelorin::testing {
namespace {

using ::testing::ElementsAre;

constexpr char kCards[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xBase>"
    "<vCard><FN>Kept</FN><OWNER>bob</OWNER><ID>1</ID></vCard>"
    "</xBase>";

std::string Card(const std::string& name) { return "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:" + name + "\r\nEND:VCARD"; }

class UploadTest : public TWebTest {
 protected:
  void SetUp() override { StartWith(kCards); }
  ResponseInfo Upload(const std::string& raw) { return Send("POST", "/pelorin/import.htm", raw); }
  TUploadReport ReportOf(const std::string& owner) {
    TStoreGuard guard(service_->StoreLock);
    const auto found = service_->ImportReports.find(owner);
    return found == service_->ImportReports.end() ? TUploadReport{} : found->second;
  }
};

TEST_F(UploadTest, TwoCardsInCardOrderWithTheirOwnMarks) {
  // Body with the cards, the trigger in the query: RawParams is body, CR LF, query.
  const ResponseInfo res = Upload(Card("One") + "\r\n" + Card("Two") + "\r\n\r\nvcfupload=1&Redirect=index.htm");
  EXPECT_EQ(302, res.StatusCode);
  EXPECT_EQ("importedmsg.htm", LocationOf(res));
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept", "One", "Two"));
  EXPECT_THAT(CardTexts("/*/vCard[position() > 1]/OWNER"), ElementsAre("alice", "alice"));
  const auto ids = CardTexts("/*/vCard[position() > 1]/ID");
  ASSERT_EQ(2u, ids.size());
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_TRUE(TimerEnabled());
}

TEST_F(UploadTest, MultipartBoundariesAndPartHeadersAreIgnored) {
  const std::string body =
      "--XyZ\r\nContent-Disposition: form-data; name=\"vcfupload\"; filename=\"a.vcf\"\r\n"
      "Content-Type: text/x-vcard\r\n\r\n" +
      Card("Part One") + "\r\n" + Card("Part Two") +
      "\r\n--XyZ\r\nContent-Disposition: form-data; name=\"Command\"\r\n\r\ninsert\r\n--XyZ--\r\n";
  const ResponseInfo res = Upload(body);
  EXPECT_EQ(302, res.StatusCode);
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept", "Part One", "Part Two"));
}

TEST_F(UploadTest, CardWithoutKnownPropertiesIsStillARecordKeepingThem) {
  Upload("vcfupload\r\nBEGIN:VCARD\r\nX-UNKNOWN:1\r\nEND:VCARD\r\n\r\n");
  EXPECT_THAT(CardTexts("/*/vCard[last()]/*"), ::testing::SizeIs(3));
  EXPECT_THAT(CardTexts("/*/vCard[last()]/PROP[NAME='X-UNKNOWN']/VALUE"), ElementsAre("1"));
  EXPECT_EQ(1u, CardTexts("/*/vCard[last()]/OWNER").size());
}

TEST_F(UploadTest, LastCardIsInsertedTwiceWhenTheTextEndsWithIt) {
  // "Command=insert" is the first form field; the text ends with END:VCARD.
  Upload("Command=insert&vcfupload\r\n" + Card("Last"));
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept", "Last", "Last"));
  const auto ids = CardTexts("/*/vCard[FN='Last']/ID");
  ASSERT_EQ(2u, ids.size());
  EXPECT_NE(ids[0], ids[1]);
}

TEST_F(UploadTest, TextAfterTheLastCardEmptiesTheXmlValue) {
  Upload("Command=insert&XML=%3CvCard%3E%3CFN%3Eform%3C%2FFN%3E%3C%2FvCard%3E&vcfupload\r\n" + Card("Last") +
         "\r\n\r\n");
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept", "Last"));
}

// Each card stands alone: a refused one is listed with its number, its name
// and the reason, and the cards around it come in with IDs the report names.
TEST_F(UploadTest, ARefusedCardIsListedAndTheOthersComeIn) {
  {
    TStoreGuard guard(service_->StoreLock);
    service_->XMLDom.UploadCardSeam = [](std::string& xml) {
      if (xml.find("Bad") != std::string::npos) xml = "<vCard><FN>Bad</vCard>";
    };
  }
  const ResponseInfo res =
      Upload("vcfupload\r\n" + Card("Good") + "\r\n" + Card("Bad") + "\r\n" + Card("After") + "\r\n\r\n");
  EXPECT_EQ(302, res.StatusCode) << res.Body;
  EXPECT_EQ("importedmsg.htm", LocationOf(res));
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept", "Good", "After"));
  EXPECT_TRUE(TimerEnabled());
  const TUploadReport report = ReportOf("alice");
  EXPECT_EQ(3u, report.Cards);
  ASSERT_EQ(2u, report.Added.size());
  EXPECT_EQ(1u, report.Added[0].Number);
  EXPECT_EQ("Good", report.Added[0].Name);
  EXPECT_EQ(3u, report.Added[1].Number);
  EXPECT_THAT(CardTexts("/*/vCard[FN='Good' or FN='After']/ID"), ElementsAre(report.Added[0].Id, report.Added[1].Id));
  ASSERT_EQ(1u, report.Refused.size());
  EXPECT_EQ(2u, report.Refused[0].Number);
  EXPECT_EQ("Bad", report.Refused[0].Name);
  EXPECT_EQ("it is not well-formed XML", report.Refused[0].Reason);
  EXPECT_TRUE(ReportOf("bob").Added.empty()) << "an upload is its user's alone";
}

TEST_F(UploadTest, ARefusedLastCardIsNotInsertedByTheFormsInsertStep) {
  {
    TStoreGuard guard(service_->StoreLock);
    service_->XMLDom.UploadCardSeam = [](std::string& xml) {
      if (xml.find("Bad") != std::string::npos) xml = "<vCard><FN>Bad</vCard>";
    };
  }
  const ResponseInfo res = Upload("Command=insert&vcfupload\r\n" + Card("Good") + "\r\n" + Card("Bad"));
  EXPECT_EQ(302, res.StatusCode) << res.Body;
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept", "Good"));
}

// The report says what the reader changed on the way in: a character set
// converted, quoted-printable decoded, bytes that were not UTF-8; FN is read
// as text in any of them.
TEST_F(UploadTest, TheReportNamesWhatWasChangedOnTheWayIn) {
  Upload("vcfupload\r\nBEGIN:VCARD\r\nVERSION:2.1\r\nFN;CHARSET=ISO-8859-1:M\xFCller\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:2.1\r\nFN;ENCODING=QUOTED-PRINTABLE:J=C3=B6rg\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ren\xE9\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Plain\\, Jane\r\nEND:VCARD\r\n\r\n");
  const TUploadReport report = ReportOf("alice");
  ASSERT_EQ(4u, report.Added.size());
  EXPECT_EQ("M\xC3\xBCller", report.Added[0].Name);
  EXPECT_THAT(report.Added[0].Notes, ElementsAre("text in the character set ISO-8859-1 was converted to UTF-8"));
  EXPECT_EQ("J\xC3\xB6rg", report.Added[1].Name);
  EXPECT_THAT(report.Added[1].Notes, ElementsAre("quoted-printable text was decoded"));
  EXPECT_EQ("Ren\xC3\xA9", report.Added[2].Name);
  EXPECT_THAT(report.Added[2].Notes, ElementsAre("bytes that were not UTF-8 were read as Windows-1252"));
  EXPECT_EQ("Plain, Jane", report.Added[3].Name);
  EXPECT_THAT(report.Added[3].Notes, ::testing::IsEmpty());
}

TEST_F(UploadTest, TextWithoutACardStartReportsNoCard) {
  const ResponseInfo res = Upload("vcfupload\r\nThis is no vCard.\r\n");
  EXPECT_EQ(302, res.StatusCode);
  const TUploadReport report = ReportOf("alice");
  EXPECT_EQ(0u, report.Cards);
  EXPECT_TRUE(report.Added.empty());
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept"));
}

// A photo is kept whole up to the bound of one text; a card past a bound is
// refused, never cut, and the cards beside it come in.
TEST_F(UploadTest, PhotosAreKeptWholeOrTheirCardIsRefused) {
  const auto photo_card = [](const std::string& name, std::size_t base64_bytes) {
    std::string data(base64_bytes, 'A');
    std::string folded;
    for (std::size_t at = 0; at < data.size(); at += 74) folded += " " + data.substr(at, 74) + "\r\n";
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\nPHOTO;ENCODING=b;TYPE=JPEG:\r\n" + folded +
           "END:VCARD";
  };
  const ResponseInfo kept = Upload("vcfupload\r\n" + photo_card("Photo", 6'000'000) + "\r\n\r\n");
  EXPECT_EQ(302, kept.StatusCode) << kept.Body;
  const std::vector<std::string> photos = CardTexts("/*/vCard[FN='Photo']/PHOTO/BINVAL");
  ASSERT_EQ(1u, photos.size());
  EXPECT_EQ(std::string(6'000'000, 'A'), photos[0]);
  EXPECT_THAT(CardTexts("/*/vCard[FN='Photo']/PHOTO/TYPE"), ElementsAre("image/jpeg"));
  EXPECT_THAT(ReportOf("alice").Added.at(0).Notes,
              ElementsAre("PHOTO data was stored as a media type with its base64, as every version reads it"));

  const ResponseInfo too_big = Upload("vcfupload\r\n" + Card("Before") + "\r\n" + photo_card("Huge", 8'000'001) +
                                      "\r\n\r\n");
  EXPECT_EQ(302, too_big.StatusCode) << too_big.Body;
  TUploadReport report = ReportOf("alice");
  ASSERT_EQ(1u, report.Refused.size());
  EXPECT_EQ(2u, report.Refused[0].Number);
  EXPECT_EQ("Huge", report.Refused[0].Name);
  EXPECT_EQ("The record has more than 8000000 bytes in one text.", report.Refused[0].Reason);
  std::string two_photos = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Two\r\n";
  for (int i = 0; i < 2; ++i) two_photos += "PHOTO;ENCODING=b;TYPE=JPEG:" + std::string(5'500'000, 'B') + "\r\n";
  const ResponseInfo too_much = Upload("vcfupload\r\n" + two_photos + "END:VCARD\r\n\r\n");
  EXPECT_EQ(302, too_much.StatusCode);
  report = ReportOf("alice");
  ASSERT_EQ(1u, report.Refused.size());
  EXPECT_EQ("the card's record has more than 10485760 bytes", report.Refused[0].Reason);
  EXPECT_TRUE(report.Added.empty());
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept", "Photo", "Before"));
}

TEST_F(UploadTest, TriggerIsCaseSensitiveAndMayHideInAValue) {
  EXPECT_EQ("index.htm", LocationOf(Upload("Redirect=index.htm&VCFUPLOAD=1\r\n" + Card("No"))));
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept"));
}

TEST_F(UploadTest, EncodedFormMentioningTheWordOnlyChangesTheRedirect) {
  const ResponseInfo res = Upload("note=vcfupload+BEGIN%3AVCARD&Redirect=index.htm");
  EXPECT_EQ(302, res.StatusCode);
  EXPECT_EQ("importedmsg.htm", LocationOf(res));
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept"));
}

TEST_F(UploadTest, DeleteComesFirstAndEndsTheRequest) {
  const ResponseInfo res = Upload("Command=delete&xPath=%2F*%2FvCard&Redirect=x.htm&vcfupload\r\n" + Card("New"));
  EXPECT_EQ("x.htm", LocationOf(res));
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept"));  // bob's card; no upload ran
}

// The undo of an import removes exactly the cards it added that are still
// there (edited ones too), never a card of the user's own from before, never
// another user's, and only once.
TEST_F(UploadTest, UndoRemovesExactlyTheCardsTheLastImportAdded) {
  ASSERT_EQ(302, Post("/pelorin/index.htm", {{"Command", "insert"}, {"XML", "<vCard><FN>Mine</FN></vCard>"},
                                             {"Redirect", "index.htm"}})
                     .StatusCode);
  Upload("vcfupload\r\n" + Card("One") + "\r\n" + Card("Two") + "\r\n" + Card("Three") + "\r\n\r\n");
  const TUploadReport report = ReportOf("alice");
  ASSERT_EQ(3u, report.Added.size());
  ASSERT_EQ(302, Post("/pelorin/index.htm", {{"Command", "delete"}, {"xPath", "/*/vCard[FN='Two']"},
                                             {"Redirect", "index.htm"}})
                     .StatusCode);
  ASSERT_EQ(302, Post("/pelorin/index.htm", {{"Command", "edit"}, {"xPath", "/*/vCard[FN='Three']"},
                                             {"XML", "<vCard><FN>Three edited</FN><ID>" + report.Added[2].Id + "</ID></vCard>"},
                                             {"Redirect", "index.htm"}})
                     .StatusCode);
  // Bob has imported nothing: his undo touches nobody's cards.
  EXPECT_EQ("importedmsg.htm", LocationOf(Post("/pelorin/importedmsg.htm", {{"Command", "undoimport"}}, "bob", "pw")));
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept", "Mine", "One", "Three edited"));
  // A post from another site is refused before anything is looked at.
  const ResponseInfo cross = Send("POST", "/pelorin/importedmsg.htm", "Command=undoimport", "Alice", "Secret1",
                                  {"Origin: http://evil.test"});
  EXPECT_EQ(403, cross.StatusCode);
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept", "Mine", "One", "Three edited"));

  const ResponseInfo undone = Post("/pelorin/importedmsg.htm", {{"Command", "undoimport"}});
  EXPECT_EQ(302, undone.StatusCode);
  EXPECT_EQ("importedmsg.htm", LocationOf(undone));
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept", "Mine"));
  EXPECT_TRUE(ReportOf("alice").Undone);
  // A second undo has nothing left to take back.
  ASSERT_EQ(302, Post("/pelorin/index.htm", {{"Command", "insert"}, {"XML", "<vCard><FN>Later</FN></vCard>"},
                                             {"Redirect", "index.htm"}})
                     .StatusCode);
  EXPECT_EQ(302, Post("/pelorin/importedmsg.htm", {{"Command", "undoimport"}}).StatusCode);
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept", "Mine", "Later"));
}

// The store's gate removes by ID only the asking owner's cards.
TEST_F(UploadTest, TheGateRemovesByIdOnlyTheOwnersCards) {
  TStoreGuard guard(service_->StoreLock);
  const TRecordOutcome other = service_->XMLDom.DeleteCards({"1"}, "alice");
  EXPECT_TRUE(other);
  EXPECT_EQ(0u, other.Changed);
  const TRecordOutcome own = service_->XMLDom.DeleteCards({"1"}, "bob");
  EXPECT_EQ(1u, own.Changed);
}

}  // namespace
}  // namespace pelorin::testing
