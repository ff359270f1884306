// The vCard upload step of a form post: cards in order with their marks, the
// redirect, the last card left for the insert step, and a failure half way.
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

TEST_F(UploadTest, ARefusedCardTakesTheUploadsEarlierCardsOutAgain) {
  {
    TStoreGuard guard(service_->StoreLock);
    service_->XMLDom.UploadCardSeam = [](std::string& xml) {
      if (xml.find("Bad") != std::string::npos) xml = "<vCard><FN>Bad</vCard>";
    };
  }
  const ResponseInfo res =
      Upload("vcfupload\r\n" + Card("Good") + "\r\n" + Card("Bad") + "\r\n" + Card("After") + "\r\n\r\n");
  EXPECT_EQ(500, res.StatusCode);
  EXPECT_EQ("Error while uploading vcf file: card 2: it is not well-formed XML", res.Body);
  EXPECT_EQ("", LocationOf(res));
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept"));
  EXPECT_FALSE(TimerEnabled());
  EXPECT_NE(std::string::npos, LogText().find(": Error while uploading vcf file: card 2"));
}

// A photo is kept whole up to the bound of one text; a card past a bound is
// refused with the rest of its upload, never cut.
TEST_F(UploadTest, PhotosAreKeptWholeOrTheUploadIsRefused) {
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

  const ResponseInfo too_big = Upload("vcfupload\r\n" + Card("Before") + "\r\n" + photo_card("Huge", 8'000'001) +
                                      "\r\n\r\n");
  EXPECT_EQ(500, too_big.StatusCode);
  EXPECT_EQ("Error while uploading vcf file: card 2: The record has more than 8000000 bytes in one text.",
            too_big.Body);
  std::string two_photos = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Two\r\n";
  for (int i = 0; i < 2; ++i) two_photos += "PHOTO;ENCODING=b;TYPE=JPEG:" + std::string(5'500'000, 'B') + "\r\n";
  const ResponseInfo too_much = Upload("vcfupload\r\n" + two_photos + "END:VCARD\r\n\r\n");
  EXPECT_EQ(500, too_much.StatusCode);
  EXPECT_EQ("Error while uploading vcf file: card 1: the card's record has more than 10485760 bytes", too_much.Body);
  EXPECT_THAT(CardTexts("/*/vCard/FN"), ElementsAre("Kept", "Photo"));
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

}  // namespace
}  // namespace pelorin::testing
