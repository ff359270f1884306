// The XHTML and WML pages of the card area: well-formed, escaped, limited to
// the user's own cards, sorted and searchable.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/app/page_renderer.h"

namespace pelorin::testing {
namespace {

struct TPageCase {
  const char* page;        // below app/, without ".xsl"
  const char* store;       // fixture under tests/app/data/
  const char* field;       // one request field, or ""
};

const TPageCase kEveryPage[] = {
    {"pelorin/index.htm", "cards.xml", ""},
    {"pelorin/index.htm", "cards.xml", "q=smith"},
    {"pelorin/index.htm", "cards.xml", "q=nothing matches this"},
    {"pelorin/card.htm", "cards.xml", "ID=100"},
    {"pelorin/card.htm", "cards.xml", "ID=999"},
    {"pelorin/edit.htm", "cards.xml", "ID=100"},
    {"pelorin/edit.htm", "cards.xml", "ID=999"},
    {"pelorin/new.htm", "cards.xml", ""},
    {"pelorin/delete.htm", "cards.xml", "ID=100"},
    {"pelorin/delete.htm", "cards.xml", "ID=102"},
    {"pelorin/import.htm", "cards.xml", ""},
    {"pelorin/importedmsg.htm", "cards.xml", ""},
    {"pelorin/undoimport.htm", "cards.xml", ""},
    {"pelorin/duplicates.htm", "cards.xml", ""},
    {"pelorin/mergecards.htm", "cards.xml", "ID=100"},
    {"user/index.htm", "users.xml", ""},
    {"user/new.htm", "users.xml", ""},
    {"user/edit.htm", "users.xml", "LOGIN=bob"},
    {"user/edit.htm", "users.xml", "LOGIN=nobody"},
    {"user/delete.htm", "users.xml", "LOGIN=bob"},
    {"user/delete.htm", "users.xml", "LOGIN=admin"},
    {"config/index.htm", "config.xml", ""},
};

class EveryPage : public ::testing::TestWithParam<TPageCase> {};

TEST_P(EveryPage, IsWellFormedSelfContainedXhtml) {
  const TPageCase& c = GetParam();
  TPageRenderer renderer;
  std::vector<std::string> fields;
  if (*c.field) fields.push_back(c.field);
  const TRendered r = renderer.Render(c.page, FixtureText(c.store), fields, "alice", true);
  ASSERT_EQ("", r.errors);
  // Non-ASCII leaves as character references, so narrowing cannot damage it.
  EXPECT_TRUE(std::all_of(r.output.begin(), r.output.end(),
                          [](char ch) { return static_cast<unsigned char>(ch) < 0x80; }));
  EXPECT_EQ(0u, r.output.find("<html")) << "the server adds the prolog; the page must not";
  const TParsedPage page(kXhtmlProlog, r.output);
  ASSERT_TRUE(page.ok()) << page.errors() << r.output;
  EXPECT_EQ(1, page.Count("/h:html/h:head/h:title"));
  EXPECT_EQ(1, page.Count("/h:html/h:head/h:link[@rel='stylesheet'][@href='../pelorin/pelorin.css']"));
  EXPECT_EQ(1, page.Count("/h:html/h:body//h:h1"));
  // Nothing from outside the service: no absolute or protocol-relative sources.
  EXPECT_EQ(0, page.Count("//@src | //h:link/@href[contains(., '//')]"));
  // Scripts reach the browser unescaped and still parse here: their text is
  // a CDATA section.
  for (const std::string& script : page.Strings("//h:script")) {
    EXPECT_EQ(0u, script.find("//")) << script.substr(0, 40);
  }
  // Every form posts to a page of its own area and names only the server's fields.
  for (const std::string& action : page.Strings("//h:form/@action")) {
    EXPECT_EQ(std::string::npos, action.find('/')) << action;
  }
  for (const std::string& name : page.Strings("//h:form[@method='post']//@name")) {
    static const std::set<std::string> kPosted = {"xPath", "Command", "XML", "Redirect",
                                                  "vcfupload", "vcffile"};
    EXPECT_TRUE(kPosted.count(name)) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, EveryPage, ::testing::ValuesIn(kEveryPage));

// A new page in app/ without a row above would go untested.
TEST(EveryPageTable, CoversEveryRenderedPage) {
  std::set<std::string> covered;
  for (const TPageCase& c : kEveryPage) covered.insert(std::string(c.page) + ".xsl");
  for (const char* area : {"pelorin", "user", "config"}) {
    for (const auto& entry : std::filesystem::directory_iterator(AppFile(area))) {
      const std::string name = entry.path().filename().string();
      if (name.size() > 8 && name.compare(name.size() - 8, 8, ".htm.xsl") == 0) {
        EXPECT_TRUE(covered.count(std::string(area) + "/" + name)) << name;
      }
    }
  }
}

// The three areas have their index pages; the upload's target page exists.
TEST(RequiredPages, Exist) {
  for (const char* page : {"pelorin/index.htm.xsl", "user/index.htm.xsl", "config/index.htm.xsl",
                           "pelorin/importedmsg.htm.xsl", "pelorin/export.vcf.xsl",
                           "pelorin/index.wml.xsl", "pelorin/pelorin.css"}) {
    EXPECT_TRUE(std::filesystem::exists(AppFile(page))) << page;
  }
}

const char kHostile[] = "<script>alert(1)</script>";

std::string HostileStore() {
  return std::string("<xBase><vCard>") +
         "<N><FAMILY>&lt;script&gt;alert(1)&lt;/script&gt;</FAMILY><GIVEN>\"'&amp;</GIVEN></N>"
         "<FN>&lt;script&gt;alert(1)&lt;/script&gt;</FN>"
         "<ORG><ORGNAME>&lt;script&gt;alert(1)&lt;/script&gt;</ORGNAME></ORG>"
         "<TEL><NUMBER>\"&gt;&lt;b&gt;1</NUMBER><VOICE/></TEL>"
         "<EMAIL><USERID>&lt;script&gt;alert(1)&lt;/script&gt;</USERID><INTERNET/></EMAIL>"
         "<URL>javascript:alert(1)</URL>"
         "<NOTE>]]&gt;&lt;script&gt;alert(1)&lt;/script&gt;</NOTE>"
         "<OWNER>alice</OWNER><ID>1</ID></vCard></xBase>";
}

class HostileValues : public ::testing::TestWithParam<const char*> {};

TEST_P(HostileValues, ShowAsTextNeverAsMarkup) {
  TPageRenderer renderer;
  const TRendered r = renderer.Render(GetParam(), HostileStore(), {"ID=1", std::string("q=") + kHostile});
  ASSERT_EQ("", r.errors);
  const TParsedPage page(kXhtmlProlog, r.output);
  ASSERT_TRUE(page.ok()) << page.errors();
  EXPECT_EQ(0, page.Count("//h:script[contains(., 'alert(1)')]"));
  EXPECT_EQ(0, page.Count("//h:b | //h:body//h:script"));
  EXPECT_EQ(0, page.Count("//@href[starts-with(., 'javascript')]"));
  EXPECT_EQ(std::string::npos, r.output.find(kHostile));
  // What the user typed is still there, as text or as a field's value.
  const std::string shown = page.BodyText() + page.Value("string(//h:input[@id='n-family']/@value)");
  EXPECT_NE(std::string::npos, shown.find(kHostile)) << r.output;
}

INSTANTIATE_TEST_SUITE_P(CardPages, HostileValues,
                         ::testing::Values("pelorin/index.htm", "pelorin/card.htm", "pelorin/edit.htm",
                                           "pelorin/delete.htm"));

TEST(HostileValues, SearchTextStaysInsideTheSearchField) {
  TPageRenderer renderer;
  const std::string query = "\"><script>alert(1)</script>";
  const TRendered r = renderer.Render("pelorin/index.htm", HostileStore(), {"q=" + query});
  const TParsedPage page(kXhtmlProlog, r.output);
  ASSERT_TRUE(page.ok()) << page.errors();
  EXPECT_EQ(query, page.Value("string(//h:input[@name='q']/@value)"));
  EXPECT_EQ(0, page.Count("//h:body//h:script"));
}

// Names in the order of the table of index.htm.
std::vector<std::string> ListedNames(const TParsedPage& page) {
  return page.Strings("//h:table[@class='cards']/h:tbody/h:tr/h:td[1]/h:a");
}

std::vector<std::string> ListedIds(const TParsedPage& page) {
  std::vector<std::string> ids;
  for (const std::string& href : page.Strings("//h:table[@class='cards']/h:tbody/h:tr/h:td[1]/h:a/@href")) {
    ids.push_back(href.substr(href.find('=') + 1));
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

TEST(CardList, ShowsOnlyTheUsersOwnCards) {
  struct {
    const char* user;
    std::vector<std::string> ids;
  } const kCases[] = {
      {"alice", {"100", "101", "103", "104", "105"}},
      {"bob", {"102", "104"}},  // 104 has two OWNER elements
      {"Alice", {}},            // the server lower-cases; a stylesheet compares exactly
      {"carol", {}},
  };
  for (const auto& c : kCases) {
    TPageRenderer renderer;
    const TParsedPage page(kXhtmlProlog, renderer.Render("pelorin/index.htm", FixtureText("cards.xml"), {}, c.user).output);
    ASSERT_TRUE(page.ok());
    EXPECT_EQ(c.ids, ListedIds(page)) << c.user;
    if (c.ids.empty()) {
      EXPECT_EQ(1, page.Count("//h:p[@class='empty']")) << c.user;
    }
  }
}

TEST(CardList, IsSortedByFamilyNameWithoutRegardToCase) {
  TPageRenderer renderer;
  const TParsedPage page(kXhtmlProlog, renderer.Render("pelorin/index.htm", FixtureText("cards.xml"), {}).output);
  // A card without a family name sorts by its formatted name.
  const std::vector<std::string> expected = {"Adams, Amy", "baker, Carla", "Carl Nofamily",
                                             "Smith, Ann Beth", "zeta, Zed"};
  EXPECT_EQ(expected, ListedNames(page));
}

TEST(CardList, SortFoldsLatin1Letters) {
  const std::string store =
      "<xBase>"
      "<vCard><N><FAMILY>\xC3\x96" "berg</FAMILY></N><OWNER>alice</OWNER><ID>1</ID></vCard>"  // Öberg
      "<vCard><N><FAMILY>\xC3\xB6" "hman</FAMILY></N><OWNER>alice</OWNER><ID>2</ID></vCard>"   // öhman
      "<vCard><N><FAMILY>\xC3\x96" "ak</FAMILY></N><OWNER>alice</OWNER><ID>3</ID></vCard>"     // Öak
      "</xBase>";
  TPageRenderer renderer;
  const TParsedPage page(kXhtmlProlog, renderer.Render("pelorin/index.htm", store, {}).output);
  const std::vector<std::string> expected = {"\xC3\x96" "ak", "\xC3\x96" "berg", "\xC3\xB6" "hman"};
  EXPECT_EQ(expected, ListedNames(page));
}

TEST(CardSearch, MatchesNamesOrganisationMailAndPhoneWithoutRegardToCase) {
  struct {
    const char* q;
    std::vector<std::string> ids;
  } const kCases[] = {
      {"smith", {"100"}},
      {"SMITH", {"100"}},
      {"  zeta  ", {"101"}},             // blanks around the query do not count
      {"annie", {"100"}},                // nickname
      {"carl", {"103", "104"}},          // given name Carla, formatted name Carl
      {"beth", {"100"}},                 // middle name
      {"example ltd", {"100"}},          // organisation
      {"support", {"100"}},              // organisational unit
      {"amy@example.net", {"105"}},      // e-mail in other case
      {"555 0199", {"100"}},             // phone as written
      {"5550199", {"100"}},              // phone without its blanks
      {"030123456", {"101"}},            // "(030) 123-456" without its separators
      {"o'brien", {"103"}},              // a quote is just a character
      {"secret", {}},                    // another user's card
      {"director", {}},                  // titles are not searched
      {"smith ann", {}},                 // one phrase, not two words
      {"", {"100", "101", "103", "104", "105"}},
  };
  for (const auto& c : kCases) {
    TPageRenderer renderer;
    const TRendered r = renderer.Render("pelorin/index.htm", FixtureText("cards.xml"), {std::string("q=") + c.q});
    ASSERT_EQ("", r.errors);
    const TParsedPage page(kXhtmlProlog, r.output);
    ASSERT_TRUE(page.ok());
    EXPECT_EQ(c.ids, ListedIds(page)) << "q=" << c.q;
    EXPECT_EQ(c.q, page.Value("string(//h:input[@name='q']/@value)"));
  }
}

TEST(CardSearch, QueryIsAGetFieldNamedQ) {
  TPageRenderer renderer;
  const TParsedPage page(kXhtmlProlog, renderer.Render("pelorin/index.htm", FixtureText("cards.xml"), {}).output);
  EXPECT_EQ(1, page.Count("//h:form[@method='get'][@action='index.htm']//h:input[@type='search'][@name='q']"));
}

TEST(CardList, OffersEveryActionOfTheArea) {
  TPageRenderer renderer;
  const TParsedPage page(kXhtmlProlog, renderer.Render("pelorin/index.htm", FixtureText("cards.xml"), {}).output);
  for (const char* href : {"new.htm", "import.htm", "export.vcf", "/logout", "card.htm?ID=100",
                           "edit.htm?ID=100", "delete.htm?ID=100"}) {
    EXPECT_LE(1, page.Count(std::string("//h:a[@href='") + href + "']")) << href;
  }
  const std::string text = page.BodyText();
  EXPECT_NE(std::string::npos, text.find("Display alice"));
  EXPECT_NE(std::string::npos, text.find("Pelorin V1.0.1"));
}

TEST(AdminLinks, OnlyWhenTheServerSaysAdministrator) {
  struct {
    std::vector<std::string> fields;
    bool admin;
    bool links;
  } const kCases[] = {
      {{}, true, true},
      {{}, false, false},
      {{"ADMIN=false"}, false, false},
      {{"ADMIN=TRUE"}, false, false},
      {{"ADMIN=yes"}, false, false},
      {{"ADMIN="}, false, false},
  };
  for (const auto& c : kCases) {
    for (const char* page_name : {"pelorin/index.htm", "pelorin/card.htm", "pelorin/new.htm"}) {
      TPageRenderer renderer;
      const TParsedPage page(kXhtmlProlog,
                             renderer.Render(page_name, FixtureText("cards.xml"), c.fields, "alice", c.admin).output);
      ASSERT_TRUE(page.ok());
      const int expected = c.links ? 1 : 0;
      EXPECT_EQ(expected, page.Count("//h:a[@href='../user/index.htm']")) << page_name;
      EXPECT_EQ(expected, page.Count("//h:a[@href='../config/index.htm']")) << page_name;
    }
  }
}

TEST(CardPage, ShowsEveryPartOfTheRecord) {
  TPageRenderer renderer;
  const std::string store = FixtureText("cards.xml");
  const TRendered r = renderer.Render("pelorin/card.htm", store, {"ID=100"});
  ASSERT_EQ("", r.errors);
  const TParsedPage page(kXhtmlProlog, r.output);
  ASSERT_TRUE(page.ok());
  const std::string text = page.BodyText();
  // Every text of the card, read from the fixture itself.
  const TParsedPage fixture("", store);
  const std::vector<std::string> values =
      fixture.Strings("/xBase/vCard[ID='100']//text()[normalize-space()][not(parent::OWNER or parent::ID)]");
  ASSERT_GT(values.size(), 40u);
  for (const std::string& value : values) {
    if (value.find('\n') != std::string::npos) {
      EXPECT_NE(std::string::npos, text.find("First line")) << value;
      EXPECT_NE(std::string::npos, text.find("Second line with = sign")) << value;
    } else {
      EXPECT_NE(std::string::npos, text.find(value)) << value;
    }
  }
  // The type markers, in words.
  for (const char* word : {"work", "home", "mobile", "voice", "fax", "preferred", "internet", "x400", "public"}) {
    EXPECT_NE(std::string::npos, text.find(word)) << word;
  }
  EXPECT_EQ(1, page.Count("//h:a[@href='http://www.example.com/ann']"));
  EXPECT_EQ(1, page.Count("//h:a[@href='mailto:ann@example.com']"));
  EXPECT_EQ(1, page.Count("//h:a[@href='edit.htm?ID=100']"));
  EXPECT_EQ(1, page.Count("//h:a[@href='delete.htm?ID=100']"));
}

TEST(CardPage, ShowsUnknownElementsByName) {
  TPageRenderer renderer;
  const TParsedPage page(
      kXhtmlProlog,
      renderer.Render("pelorin/card.htm", "<xBase><vCard><FN>x</FN><XFUTURE>later</XFUTURE><OWNER>alice</OWNER><ID>9</ID></vCard></xBase>",
                      {"ID=9"}).output);
  EXPECT_NE(std::string::npos, page.BodyText().find("XFUTURE"));
  EXPECT_NE(std::string::npos, page.BodyText().find("later"));
}

TEST(CardPage, AnotherUsersCardIsNotShown) {
  for (const char* page_name : {"pelorin/card.htm", "pelorin/edit.htm", "pelorin/delete.htm"}) {
    TPageRenderer renderer;
    const TRendered r = renderer.Render(page_name, FixtureText("cards.xml"), {"ID=102"});
    const TParsedPage page(kXhtmlProlog, r.output);
    ASSERT_TRUE(page.ok());
    EXPECT_EQ(std::string::npos, r.output.find("secret@bob.example")) << page_name;
    EXPECT_EQ(std::string::npos, r.output.find("Private")) << page_name;
    EXPECT_EQ(0, page.Count("//h:form[@method='post']")) << page_name;
  }
}

TEST(CardPage, IdentifiersWithOtherCharactersAreEncodedInLinks) {
  const std::string store =
      "<xBase><vCard><FN>odd</FN><OWNER>alice</OWNER><ID>1&amp;2 ?</ID></vCard></xBase>";
  TPageRenderer renderer;
  const TParsedPage page(kXhtmlProlog, renderer.Render("pelorin/index.htm", store, {}).output);
  EXPECT_EQ(1, page.Count("//h:a[@href='card.htm?ID=1%262%20%3F']"));  // the name
  EXPECT_EQ(1, page.Count("//h:a[@href='edit.htm?ID=1%262%20%3F']"));
  EXPECT_EQ(1, page.Count("//h:a[@href='delete.htm?ID=1%262%20%3F']"));
}

TEST(WmlDeck, ListsTheUsersCardsWithTheirPhoneNumbers) {
  TPageRenderer renderer;
  const TRendered r = renderer.Render("pelorin/index.wml", FixtureText("cards.xml"), {});
  ASSERT_EQ("", r.errors);
  const TParsedPage deck(kWmlProlog, r.output);
  ASSERT_TRUE(deck.ok()) << deck.errors();
  EXPECT_EQ(1, deck.Count("/wml/card[@id]"));
  const std::vector<std::string> names = deck.Strings("/wml/card/p/b");
  const std::vector<std::string> expected = {"Display alice", "Adams, Amy", "baker, Carla", "Carl Nofamily",
                                             "Smith, Ann Beth", "zeta, Zed"};
  EXPECT_EQ(expected, names);
  const std::vector<std::string> numbers = deck.Strings("//a");
  const std::vector<std::string> expected_numbers = {"+1 555 0100", "+1 555 0199", "+1 555 0150", "(030) 123-456"};
  EXPECT_EQ(expected_numbers, numbers);
  EXPECT_EQ(1, deck.Count("//a[@href='wtai://wp/mc;030123456']"));
  EXPECT_EQ(std::string::npos, r.output.find("Bob"));
  // Only elements a WML 1.1 browser knows.
  EXPECT_EQ(0, deck.Count("//*[not(self::wml or self::card or self::p or self::b or self::br or self::a)]"));
}

TEST(WmlDeck, DollarSignsAreNotVariables) {
  const std::string store =
      "<xBase><vCard><FN>Cash $name</FN><TEL><NUMBER>$1</NUMBER><VOICE/></TEL><OWNER>alice</OWNER><ID>1</ID></vCard></xBase>";
  TPageRenderer renderer;
  const TRendered r = renderer.Render("pelorin/index.wml", store, {});
  const TParsedPage deck(kWmlProlog, r.output);
  ASSERT_TRUE(deck.ok());
  EXPECT_EQ("Cash $$name", deck.Value("string(/wml/card/p[2]/b)"));
  EXPECT_EQ("$$1", deck.Value("string(//a)"));
}

TEST(WmlDeck, EmptyForAUserWithoutCards) {
  TPageRenderer renderer;
  const TParsedPage deck(kWmlProlog, renderer.Render("pelorin/index.wml", FixtureText("cards.xml"), {}, "carol").output);
  ASSERT_TRUE(deck.ok());
  EXPECT_EQ(0, deck.Count("//a"));
  EXPECT_NE(std::string::npos, deck.Value("string(/wml)").find("No cards"));
}

}  // namespace
}  // namespace pelorin::testing
