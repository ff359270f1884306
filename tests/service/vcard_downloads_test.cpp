// The downloads written from the records: every card of the user as vCard 3.0
// and 4.0, one card, and a card's picture. Each reaches only the user's own
// cards, and a card without a UID gets one stored the first time it goes out.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/service/web_fixture.h"

namespace pelorin::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// The eight bytes every PNG file starts with, in base64 and as bytes.
constexpr char kPngBase64[] = "iVBORw0KGgo=";
constexpr char kPngBytes[] = "\x89PNG\r\n\x1a\n";

const std::string kCards =
    std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xBase>") +
    "<vCard><FN>Ann Alpha</FN><N><FAMILY>Alpha</FAMILY><GIVEN>Ann</GIVEN></N>"
    "<TEL><NUMBER>+41 1</NUMBER><CELL/></TEL><PARAMS><GROUP>item1</GROUP></PARAMS>"
    "<PROP><NAME>X-ABLabel</NAME><GROUP>item1</GROUP><VALUE>mobile</VALUE></PROP>"
    "<PHOTO><TYPE>image/png</TYPE><BINVAL>" + kPngBase64 + "</BINVAL></PHOTO>"
    "<OWNER>alice</OWNER><ID>1</ID></vCard>"
    "<vCard><FN>Bob Beta</FN><UID>bob-card</UID><OWNER>bob</OWNER><ID>2</ID></vCard>"
    "<vCard><FN>Ada \xC3\x9F</FN><UID>kept-uid</UID><NOTE>a,b;c\nd</NOTE><OWNER>alice</OWNER><ID>3</ID></vCard>"
    "<vCard><FN>Page</FN><PHOTO><TYPE>text/html</TYPE><BINVAL>PGI+</BINVAL></PHOTO><OWNER>alice</OWNER><ID>4</ID>"
    "</vCard></xBase>";

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class VcardDownloadsTest : public TWebTest {
 protected:
  void SetUp() override { StartWith(kCards); }
  ResponseInfo Get(const std::string& target, const std::string& user = "Alice",
                   const std::string& password = "Secret1") {
    const std::size_t query = target.find('?');
    return Send("GET", target.substr(0, query), query == std::string::npos ? "" : target.substr(query + 1), user,
                password);
  }
};

TEST_F(VcardDownloadsTest, EveryOwnCardAsVersion4WithAUidStoredOnce) {
  const ResponseInfo first = Get("/pelorin/export4.vcf");
  EXPECT_EQ(200, first.StatusCode);
  EXPECT_EQ("text/vcard; charset=utf-8", first.BodyType);
  EXPECT_EQ(3u, Count(first.Body, "BEGIN:VCARD\r\nVERSION:4.0\r\n"));
  EXPECT_THAT(first.Body, Not(HasSubstr("Bob Beta")));
  EXPECT_THAT(first.Body, HasSubstr("item1.TEL;TYPE=cell:+41 1\r\n"));
  EXPECT_THAT(first.Body, HasSubstr("item1.X-ABLabel:mobile\r\n"));
  EXPECT_THAT(first.Body, HasSubstr("PHOTO:data:image/png;base64,iVBORw0KGgo=\r\n"));
  EXPECT_THAT(first.Body, HasSubstr("NOTE:a\\,b\\;c\\nd\r\n"));
  EXPECT_THAT(first.Body, HasSubstr("FN:Ada \xC3\x9F\r\n"));  // UTF-8, never "?"
  // Ann's and Page's cards had no UID: one each is stored; Ada keeps hers.
  const std::vector<std::string> uids = CardTexts("/*/vCard[OWNER='alice']/UID");
  ASSERT_EQ(3u, uids.size());
  EXPECT_EQ(0u, uids[0].rfind("urn:uuid:", 0));
  EXPECT_NE(uids[0], uids[2]);
  EXPECT_EQ("kept-uid", uids[1]);
  EXPECT_THAT(CardTexts("/*/vCard[OWNER='bob']/UID"), ElementsAre("bob-card"));
  EXPECT_TRUE(TimerEnabled());  // stored UIDs are a change to save
  for (const std::string& uid : uids) EXPECT_THAT(first.Body, HasSubstr("UID:" + uid + "\r\n"));

  const ResponseInfo again = Get("/pelorin/export4.vcf");
  EXPECT_EQ(uids, CardTexts("/*/vCard[OWNER='alice']/UID"));
  for (const std::string& uid : uids) EXPECT_THAT(again.Body, HasSubstr("UID:" + uid + "\r\n"));
}

TEST_F(VcardDownloadsTest, Version3AndSingleCards) {
  const ResponseInfo all = Get("/pelorin/export3.vcf");
  EXPECT_EQ(3u, Count(all.Body, "BEGIN:VCARD\r\nVERSION:3.0\r\n"));
  EXPECT_THAT(all.Body, HasSubstr("PHOTO;ENCODING=b;TYPE=PNG:iVBORw0KGgo=\r\n"));

  const ResponseInfo one = Get("/pelorin/card.vcf?ID=3");
  EXPECT_EQ(200, one.StatusCode);
  EXPECT_EQ(1u, Count(one.Body, "BEGIN:VCARD\r\nVERSION:4.0\r\n"));
  EXPECT_THAT(one.Body, HasSubstr("UID:kept-uid\r\n"));
  EXPECT_EQ(1u, Count(Get("/pelorin/card.vcf?ID=3&VERSION=3.0").Body, "VERSION:3.0\r\n"));
  // Another user's card, a card that is not there and IDs that are no IDs.
  for (const char* target : {"/pelorin/card.vcf?ID=2", "/pelorin/card.vcf?ID=99", "/pelorin/card.vcf?ID=1%22%5D",
                             "/pelorin/card.vcf"}) {
    const ResponseInfo missing = Get(target);
    EXPECT_EQ(404, missing.StatusCode) << target;
    EXPECT_THAT(missing.Body, Not(HasSubstr("BEGIN:VCARD"))) << target;
  }
  EXPECT_EQ(200, Get("/pelorin/card.vcf?ID=2", "bob", "pw").StatusCode);
}

TEST_F(VcardDownloadsTest, PicturesComeFromTheRecordToTheirOwnerOnly) {
  const ResponseInfo photo = Get("/pelorin/photo?ID=1");
  EXPECT_EQ(200, photo.StatusCode);
  EXPECT_EQ("image/png", photo.BodyType);
  EXPECT_EQ(std::string(kPngBytes, 8), photo.Body);
  EXPECT_EQ(404, Get("/pelorin/photo?ID=1", "bob", "pw").StatusCode);
  EXPECT_EQ(404, Get("/pelorin/photo?ID=3").StatusCode);             // no picture
  EXPECT_EQ(404, Get("/pelorin/photo?ID=4").StatusCode);             // not an image type
  EXPECT_EQ(404, Get("/pelorin/photo?ID=1&KIND=NOTE").StatusCode);   // only PHOTO and LOGO
  EXPECT_EQ(404, Get("/pelorin/photo?ID=1%22%5D%7C//*").StatusCode);  // no query through the ID
}

}  // namespace
}  // namespace pelorin::testing
