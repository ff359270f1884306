// The card list a page at a time, as the service renders it: the range and
// totals, previous and next, the page size and its bounds, the three sorts,
// the letter index, a search paged the same way, and links that keep the
// search. The last tests drive the listing through store changes.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/record_store.h"
#include "tests/app/page_renderer.h"
#include "tests/temp_dir.h"
#include "web/card_listing.h"

namespace pelorin::testing {
namespace {

// alice owns 250 cards, family names "Fam000" to "Fam249" stored in reverse,
// given names counting the other way, every third with an organisation;
// bob owns 30 that never show for alice.
std::string ManyCards() {
  std::string xml = "<xBase>";
  const auto number = [](int n) {
    std::string text = std::to_string(n);
    return std::string(3 - text.size(), '0') + text;
  };
  for (int i = 249; i >= 0; --i) {
    xml += "<vCard><FN>Given" + number(249 - i) + " Fam" + number(i) + "</FN><N><FAMILY>Fam" + number(i) +
           "</FAMILY><GIVEN>Given" + number(249 - i) + "</GIVEN></N>" +
           (i % 3 == 0 ? "<ORG><ORGNAME>Org" + number(i) + "</ORGNAME></ORG>" : "") +
           "<TEL><NUMBER>+41 44 " + number(i) + "</NUMBER></TEL><OWNER>alice</OWNER><ID>" + std::to_string(1000 + i) +
           "</ID></vCard>";
  }
  for (int i = 0; i < 30; ++i) {
    xml += "<vCard><FN>Bob's " + number(i) + "</FN><N><FAMILY>Fam" + number(i) + "</FAMILY></N><OWNER>bob</OWNER><ID>" +
           std::to_string(5000 + i) + "</ID></vCard>";
  }
  return xml + "</xBase>";
}

class CardListPagingTest : public ::testing::Test {
 protected:
  TParsedPage List(const std::vector<std::string>& fields, const std::string& store = ManyCards()) {
    const TRendered rendered = renderer_.Render("pelorin/index.htm", store, fields);
    EXPECT_EQ("", rendered.errors);
    TParsedPage page(kXhtmlProlog, rendered.output);
    EXPECT_TRUE(page.ok()) << page.errors();
    return page;
  }
  static std::vector<std::string> Names(const TParsedPage& page) {
    return page.Strings("//h:table[@class='cards']/h:tbody/h:tr/h:td[1]/h:a");
  }
  static std::string Count(const TParsedPage& page) { return page.Value("normalize-space(//h:p[@class='count'])"); }

  TPageRenderer renderer_;
};

TEST_F(CardListPagingTest, PagesOfAHundredWithTheRangeAndPreviousAndNext) {
  const TParsedPage first = List({});
  const std::vector<std::string> names = Names(first);
  ASSERT_EQ(100u, names.size());
  EXPECT_EQ("Fam000, Given249", names.front());
  EXPECT_EQ("Fam099, Given150", names.back());
  EXPECT_EQ("Cards 1\xe2\x80\x93" "100 of 250", Count(first));
  EXPECT_EQ("Page 1 of 3", first.Value("normalize-space(//h:span[@class='page-of'])"));
  EXPECT_EQ(0, first.Count("//h:a[@rel='prev']"));
  EXPECT_EQ("index.htm?sort=family&size=100&page=2", first.Value("string(//h:a[@rel='next']/@href)"));

  const TParsedPage last = List({"page=3"});
  EXPECT_EQ(50u, Names(last).size());
  EXPECT_EQ("Fam249, Given000", Names(last).back());
  EXPECT_EQ("Cards 201\xe2\x80\x93" "250 of 250", Count(last));
  EXPECT_EQ("index.htm?sort=family&size=100&page=2", last.Value("string(//h:a[@rel='prev']/@href)"));
  EXPECT_EQ(0, last.Count("//h:a[@rel='next']"));
  // Past the end is the last page; nonsense is the first.
  EXPECT_EQ(Names(last), Names(List({"page=99"})));
  for (const char* page : {"page=0", "page=-1", "page=abc", "page="}) EXPECT_EQ(Names(first), Names(List({page}))) << page;
}

TEST_F(CardListPagingTest, ThePageSizeIsChosenWithinItsBounds) {
  EXPECT_EQ(25u, Names(List({"size=25"})).size());
  EXPECT_EQ(10u, Names(List({"size=3"})).size());
  EXPECT_EQ(250u, Names(List({"size=100000"})).size());
  EXPECT_EQ(100u, Names(List({"size=lots"})).size());
  const TParsedPage page = List({"size=50", "page=2"});
  EXPECT_EQ("Cards 51\xe2\x80\x93" "100 of 250", Count(page));
  EXPECT_EQ("50", page.Value("string(//h:select[@name='size']/h:option[@selected]/@value)"));
  EXPECT_EQ(1, page.Count("//h:label[@for='page-size']"));
  EXPECT_EQ("index.htm?sort=family&size=50&page=3", page.Value("string(//h:a[@rel='next']/@href)"));
}

TEST_F(CardListPagingTest, SortsByFamilyGivenOrOrganisation) {
  EXPECT_EQ("Fam249, Given000", Names(List({"sort=given"})).front());
  // Organisations first, in their order; cards without one after them.
  const std::vector<std::string> by_org = Names(List({"sort=org", "size=500"}));
  ASSERT_EQ(250u, by_org.size());
  EXPECT_EQ("Fam000, Given249", by_org[0]);
  EXPECT_EQ("Fam003, Given246", by_org[1]);
  EXPECT_EQ("Fam249, Given000", by_org[83]);  // the 84th organisation, the last
  EXPECT_EQ("Fam001, Given248", by_org[84]);
  // The current sort is marked; the others link to it, on page 1.
  const TParsedPage page = List({"sort=given", "page=2"});
  EXPECT_EQ("Given name", page.Value("string(//h:nav[@class='sorts']/h:strong[@aria-current])"));
  EXPECT_EQ("index.htm?sort=family&size=100&page=1",
            page.Value("string(//h:nav[@class='sorts']/h:a[.='Family name']/@href)"));
  EXPECT_EQ("Family name", List({"sort=nonsense"}).Value("string(//h:nav[@class='sorts']/h:strong)"));
}

TEST_F(CardListPagingTest, LettersLeadToThePageWhereTheyStart) {
  std::string store = "<xBase>";
  for (const char* family : {"Adams", "Baker", "baker", "\xc3\x89lise", "Zeta", "42nd Street", "Ortega"}) {
    for (int i = 0; i < 5; ++i) {
      store += "<vCard><N><FAMILY>" + std::string(family) + "</FAMILY><GIVEN>G" + std::to_string(i) +
               "</GIVEN></N><OWNER>alice</OWNER><ID>" + std::to_string(store.size()) + "</ID></vCard>";
    }
  }
  store += "</xBase>";
  const TParsedPage page = List({"size=10"}, store);
  EXPECT_EQ((std::vector<std::string>{"A", "B", "E", "O", "Z", "#"}), page.Strings("//h:nav[@class='letters']/h:a"));
  // 5 of "#", 5 Adams, 10 Baker and baker, then Élise sorted as "elise" on page 3.
  EXPECT_EQ("index.htm?sort=family&size=10&page=3", page.Value("string(//h:nav[@class='letters']/h:a[.='E']/@href)"));
  EXPECT_EQ("index.htm?sort=family&size=10&page=1", page.Value("string(//h:nav[@class='letters']/h:a[.='#']/@href)"));
  EXPECT_EQ("A", page.Value("string(//h:nav[@class='letters']/h:a[@class='here'])"));
  const std::vector<std::string> third = Names(List({"size=10", "page=3"}, store));
  EXPECT_EQ("\xc3\x89lise, G0", third.front());
  // A list of one page needs no index.
  EXPECT_EQ(0, List({}, store).Count("//h:nav[@class='letters']"));
}

TEST_F(CardListPagingTest, ASearchIsPagedTheSameWayAndItsLinksKeepIt) {
  // "fam1" is in 100 family names: Fam100 to Fam199.
  const TParsedPage page = List({"q=  FAM1 ", "size=25", "page=2"});
  EXPECT_EQ("Cards 26\xe2\x80\x93" "50 of 100 found among 250", Count(page));
  EXPECT_EQ("index.htm?sort=family&size=25&page=3&q=%20%20FAM1%20", page.Value("string(//h:a[@rel='next']/@href)"));
  EXPECT_EQ("  FAM1 ", page.Value("string(//h:form[@role='search']//h:input[@name='q']/@value)"));
  EXPECT_EQ("family", page.Value("string(//h:form[@role='search']//h:input[@name='sort']/@value)"));
  // Digits match phone numbers whatever their separators.
  EXPECT_EQ("1 card found among 250", Count(List({"q=(44) 123"})));
  EXPECT_EQ(1, List({"q=no such card"}).Count("//h:p[@class='empty']"));
  // Markup in a search goes into links and fields as text.
  const TParsedPage hostile = List({"q=\"><script>&"});
  EXPECT_EQ(0, hostile.Count("//h:script[contains(., 'script>')]"));
  EXPECT_EQ(1, hostile.Count("//h:a[@href='index.htm?sort=family&size=100']"));
}

TEST_F(CardListPagingTest, AnotherUsersCardsAreNeverCounted) {
  const TParsedPage page = List({"size=500"});
  EXPECT_EQ(250u, Names(page).size());
  EXPECT_EQ(std::string::npos, page.BodyText().find("Bob's"));
  const TParsedPage bob(kXhtmlProlog, renderer_.Render("pelorin/index.htm", ManyCards(), {}, "bob").output);
  EXPECT_EQ(30u, Names(bob).size());
  EXPECT_EQ("30 cards", Count(bob));
}

// The listing kept between requests follows every change of the store.
TEST(CardListingCache, FollowsInsertsEditsDeletesAndUploads) {
  TTempDir dir;
  WriteFile(dir.File("base.xml"), "<xBase/>");
  TRecordStore store(TStoreKind::Cards, "/pelorin/base.xml");
  ASSERT_EQ(0, store.LoadFromFile(dir.File("base.xml")));
  TCardListings listings;
  std::string zoe_id;
  const auto names = [&](const std::string& query = "") {
    TListingRequest request;
    request.Query = query;
    std::vector<std::string> found;
    for (const TNodeRef node : listings.Page(store, "ann", request).Cards) {
      const std::optional<TRecordElement> card = store.CardTree(node);
      found.emplace_back(ChildText(*card, "FN"));
      if (found.back() == "Zoe") zoe_id = ChildText(*card, "ID");
    }
    return found;
  };
  EXPECT_TRUE(names().empty());
  ASSERT_TRUE(store.InsertRecord("<vCard><FN>Zoe</FN><N><FAMILY>Zoe</FAMILY></N><ID>1</ID></vCard>", "ann"));
  ASSERT_TRUE(store.InsertRecord("<vCard><FN>Abe</FN><N><FAMILY>Abe</FAMILY></N></vCard>", "ann"));
  EXPECT_EQ((std::vector<std::string>{"Abe", "Zoe"}), names());
  ASSERT_EQ(1u, store
                    .ReplaceRecord("/*/vCard[ID='" + zoe_id + "']",
                                   "<vCard><FN>Aaron</FN><N><FAMILY>Aaron</FAMILY></N><ID>" + zoe_id + "</ID></vCard>", "ann")
                    .Changed);
  EXPECT_EQ((std::vector<std::string>{"Aaron", "Abe"}), names());
  EXPECT_EQ((std::vector<std::string>{"Aaron"}), names("aar"));
  ASSERT_TRUE(store.InsertUpload("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Mia;;;;\r\nFN:Mia\r\nEND:VCARD\r\n", "ann"));
  EXPECT_EQ((std::vector<std::string>{"Aaron", "Abe", "Mia"}), names());
  ASSERT_EQ(1u, store.DeleteSelected("/*/vCard[ID='" + zoe_id + "']", "ann").Changed);
  EXPECT_EQ((std::vector<std::string>{"Abe", "Mia"}), names());
  ASSERT_TRUE(store.InsertRecord("<vCard><FN>Other</FN></vCard>", "bob"));
  EXPECT_EQ((std::vector<std::string>{"Abe", "Mia"}), names());
}

TEST(ListingFolding, LowerCasesAndDropsLatin1Accents) {
  EXPECT_EQ("elise muller strasse", FoldedForListing("\xc3\x89lise M\xc3\xbcller Stra\xc3\x9f" "e"));
  EXPECT_EQ("aeon \xc3\x97 \xe2\x82\xac", FoldedForListing("\xc3\x86on \xc3\x97 \xe2\x82\xac"));  // × and € stay
  EXPECT_EQ("\xc3", FoldedForListing("\xc3"));  // a lone lead byte stays as it is
}

}  // namespace
}  // namespace pelorin::testing
