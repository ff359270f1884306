// The card form (edit.htm, new.htm) and the delete confirmation: what they
// post, and that an edit posts back every part of the card.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/app/page_renderer.h"

namespace pelorin::testing {
namespace {

std::string InputValue(const TParsedPage& page, const std::string& id) {
  return page.Value("string(//h:*[@id='" + id + "']/@value)");
}

std::string Hidden(const TParsedPage& page, const std::string& name) {
  return page.Value("string(//h:form[@method='post']//h:input[@type='hidden'][@name='" + name + "']/@value)");
}

// Whether `xpath` selects exactly the card with `id` in `store_xml`, as the
// server evaluates it (with the owner condition a delete adds).
void ExpectSelectsOnly(const std::string& store_xml, const std::string& xpath, const std::string& id) {
  TTempDir dir;
  WriteFile(dir.File("store.xml"), store_xml);
  TQuickDom store;
  ASSERT_EQ(0, store.LoadFromFile(dir.File("store.xml")));
  ASSERT_TRUE(store.SelectNode(xpath)) << xpath;
  ASSERT_TRUE(store.SelectFirstChild());
  EXPECT_EQ(id, store.GetSiblingText("ID")) << xpath;
  ASSERT_TRUE(store.SelectParent());
  store.RemoveCurrent();
  EXPECT_FALSE(store.SelectNode(xpath)) << "a second record matches " << xpath;
}

class CardFormTest : public ::testing::Test {
 protected:
  TParsedPage Edit(const std::string& id) {
    rendered_ = renderer_.Render("pelorin/edit.htm", FixtureText("cards.xml"), {"ID=" + id});
    EXPECT_EQ("", rendered_.errors);
    return TParsedPage(kXhtmlProlog, rendered_.output);
  }

  TPageRenderer renderer_;
  TRendered rendered_;
};

TEST_F(CardFormTest, EditFormHoldsTheCardsValues) {
  const TParsedPage page = Edit("100");
  ASSERT_TRUE(page.ok()) << page.errors();
  const struct {
    const char* id;
    const char* value;
  } kFields[] = {
      {"n-family", "Smith"}, {"n-given", "Ann"},         {"n-middle", "Beth"},
      {"n-prefix", "Dr."},   {"n-suffix", "PhD"},        {"fn", "Dr. Ann Beth Smith PhD"},
      {"nickname", "Annie, AS"}, {"bday", "1970-04-01"}, {"org-name", "Example Ltd"},
      {"title", "Director"}, {"role", "Sales Manager"},  {"url", "http://www.example.com/ann"},
      {"categories", "Clients, VIP"}, {"card-id", "100"},
  };
  for (const auto& f : kFields) EXPECT_EQ(f.value, InputValue(page, f.id)) << f.id;
  EXPECT_EQ("First line\nSecond line with = sign", page.Value("string(//h:textarea[@id='note'])"));
  const std::vector<std::string> units = {"Sales", "Support", ""};
  EXPECT_EQ(units, page.Strings("//h:input[@class='org-unit']/@value"));
  // Every phone, e-mail and address has its row, and one more row is free.
  const std::vector<std::string> numbers = {"+1 555 0100", "+1 555 0199", "+1 555 0150", ""};
  EXPECT_EQ(numbers, page.Strings("//h:div[contains(@class, 'tel-row')]/h:input[@class='tel-number']/@value"));
  const std::vector<std::string> mails = {"ann@example.com", "ann.smith@example.org", ""};
  EXPECT_EQ(mails, page.Strings("//h:input[@class='email-address']/@value"));
  const std::vector<std::string> streets = {"1 Main St", "2 Side St", ""};
  EXPECT_EQ(streets, page.Strings("//h:textarea[@class='adr-street']"));
}

TEST_F(CardFormTest, EditFormChecksTheMarkersEachItemHas) {
  const TParsedPage page = Edit("100");
  const auto checked = [&](const std::string& row, int index, const std::string& box) {
    return page.Strings("(//h:div[contains(@class, '" + row + "')])[" + std::to_string(index) +
                        "]//h:input[@class='" + box + "'][@checked]/@value");
  };
  EXPECT_EQ((std::vector<std::string>{"WORK", "VOICE"}), checked("tel-row", 1, "tel-type"));
  EXPECT_EQ((std::vector<std::string>{"CELL", "VOICE"}), checked("tel-row", 2, "tel-type"));
  EXPECT_EQ((std::vector<std::string>{"HOME", "FAX"}), checked("tel-row", 3, "tel-type"));
  EXPECT_EQ((std::vector<std::string>{}), checked("tel-row", 4, "tel-type"));
  EXPECT_EQ((std::vector<std::string>{"PREF", "WORK"}), checked("adr-row", 1, "adr-type"));
  EXPECT_EQ((std::vector<std::string>{"HOME"}), checked("adr-row", 2, "adr-type"));
  EXPECT_EQ((std::vector<std::string>{"PREF"}), checked("email-row", 1, "email-pref"));
  EXPECT_EQ((std::vector<std::string>{}), checked("email-row", 2, "email-pref"));
  EXPECT_EQ("INTERNET", page.Value("string((//h:select[@class='email-type'])[1]/h:option[@selected]/@value)"));
  EXPECT_EQ("X400", page.Value("string((//h:select[@class='email-type'])[2]/h:option[@selected]/@value)"));
}

TEST_F(CardFormTest, MarkersWithoutACheckBoxAreKept) {
  const std::string store =
      "<xBase><vCard><FN>x</FN><TEL><NUMBER>1</NUMBER><X-SAT/><VOICE/></TEL>"
      "<ADR><PARCEL/><X-DEPOT/><STREET>s</STREET></ADR>"
      "<EMAIL><USERID>u</USERID><X-CORP/></EMAIL><OWNER>alice</OWNER><ID>7</ID></vCard></xBase>";
  const TParsedPage page(kXhtmlProlog, renderer_.Render("pelorin/edit.htm", store, {"ID=7"}).output);
  EXPECT_EQ("X-SAT ", page.Value("string(//h:input[@class='tel-other']/@value)"));
  EXPECT_EQ("X-DEPOT ", page.Value("string(//h:input[@class='adr-other']/@value)"));
  EXPECT_EQ("X-CORP", page.Value("string(//h:select[@class='email-type']/h:option[@selected]/@value)"));
}

// The parts the form does not edit travel as XML in a hidden value; together
// with the edited parts they make up the whole card.
TEST_F(CardFormTest, EditPostsBackWhatTheFormDoesNotShow) {
  const TParsedPage page = Edit("100");
  const std::string keep = InputValue(page, "card-keep");
  const TParsedPage kept("", "<kept>" + keep + "</kept>");
  ASSERT_TRUE(kept.ok()) << keep;
  std::vector<std::string> kept_names;
  for (int i = 1; i <= kept.Count("/kept/*"); ++i) {
    kept_names.push_back(kept.Value("name(/kept/*[" + std::to_string(i) + "])"));
  }
  const std::vector<std::string> expected = {"VERSION", "LABEL", "MAILER", "TZ", "GEO", "PRODID",
                                             "REV", "SORTSTR", "UID", "CLASS"};
  EXPECT_EQ(expected, kept_names);
  EXPECT_EQ("2 Side St, Shelbyville", kept.Value("string(/kept/LABEL/LINE)"));
  EXPECT_EQ(1, kept.Count("/kept/LABEL/HOME"));
  EXPECT_EQ(1, kept.Count("/kept/CLASS/PUBLIC"));
  EXPECT_EQ(0, kept.Count("/kept/OWNER | /kept/ID"));
}

TEST_F(CardFormTest, SecondOccurrencesOfSingleFieldsAreKept) {
  const std::string store =
      "<xBase><vCard><FN>one</FN><FN>two &amp; &lt;three&gt;</FN><NOTE>n1</NOTE><NOTE>n2</NOTE>"
      "<OWNER>alice</OWNER><OWNER>bob</OWNER><ID>7</ID><ID>8</ID></vCard></xBase>";
  const TParsedPage page(kXhtmlProlog, renderer_.Render("pelorin/edit.htm", store, {"ID=7"}).output);
  EXPECT_EQ("one", InputValue(page, "fn"));
  EXPECT_EQ("<FN>two &amp; &lt;three&gt;</FN><NOTE>n2</NOTE>", InputValue(page, "card-keep"));
}

TEST_F(CardFormTest, EditPostsAnEditOfTheUsersOwnCard) {
  const TParsedPage page = Edit("100");
  EXPECT_EQ("xBase/vCard[ID='100'][OWNER='alice']", Hidden(page, "xPath"));
  EXPECT_EQ("", Hidden(page, "Command")) << "set by the script, so a post without it changes nothing";
  EXPECT_EQ("", Hidden(page, "XML"));
  EXPECT_EQ("card.htm?ID=100", Hidden(page, "Redirect"));
  EXPECT_EQ("return pelorinSaveCard(this, 'edit');", page.Value("string(//h:form[@method='post']/@onsubmit)"));
  ExpectSelectsOnly(FixtureText("cards.xml"), Hidden(page, "xPath"), "100");
}

TEST_F(CardFormTest, EditOfASharedCardNamesTheEditor) {
  rendered_ = renderer_.Render("pelorin/edit.htm", FixtureText("cards.xml"), {"ID=104"}, "bob");
  const TParsedPage page(kXhtmlProlog, rendered_.output);
  EXPECT_EQ("xBase/vCard[ID='104'][OWNER='bob']", Hidden(page, "xPath"));
  ExpectSelectsOnly(FixtureText("cards.xml"), Hidden(page, "xPath"), "104");
}

TEST_F(CardFormTest, NewFormInsertsWithFreeRows) {
  const TRendered r = renderer_.Render("pelorin/new.htm", FixtureText("cards.xml"), {});
  const TParsedPage page(kXhtmlProlog, r.output);
  ASSERT_TRUE(page.ok());
  EXPECT_EQ("return pelorinSaveCard(this, 'insert');", page.Value("string(//h:form[@method='post']/@onsubmit)"));
  EXPECT_EQ(0, page.Count("//h:input[@name='xPath']"));
  EXPECT_EQ("index.htm", Hidden(page, "Redirect"));
  EXPECT_EQ("", InputValue(page, "card-id"));
  EXPECT_EQ("", InputValue(page, "card-keep"));
  EXPECT_EQ(3, page.Count("//h:div[contains(@class, 'tel-row')]"));
  EXPECT_EQ(3, page.Count("//h:div[contains(@class, 'email-row')]"));
  EXPECT_EQ(2, page.Count("//h:div[contains(@class, 'adr-row')]"));
  // New addresses start as home addresses, new e-mail addresses as internet ones.
  EXPECT_EQ(2, page.Count("//h:input[@class='adr-type'][@value='HOME'][@checked]"));
  EXPECT_EQ(3, page.Count("//h:select[@class='email-type']/h:option[@value='INTERNET'][@selected]"));
  // The script that builds the record escapes what it puts into it.
  const std::string script = page.Value("string(//h:head/h:script)");
  for (const char* escape : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"}) {
    EXPECT_NE(std::string::npos, script.find(escape)) << escape;
  }
}

TEST(DeleteConfirmation, PostsADeleteOfThatCardOnly) {
  TPageRenderer renderer;
  const std::string store = FixtureText("cards.xml");
  const TParsedPage page(kXhtmlProlog, renderer.Render("pelorin/delete.htm", store, {"ID=101"}).output);
  ASSERT_TRUE(page.ok());
  EXPECT_EQ("delete", Hidden(page, "Command"));
  EXPECT_EQ("index.htm", Hidden(page, "Redirect"));
  EXPECT_EQ("xBase/vCard[ID='101']", Hidden(page, "xPath"));
  EXPECT_EQ(1, page.Count("//h:form[@method='post'][@action='index.htm']//h:button[@type='submit']"));
  EXPECT_NE(std::string::npos, page.BodyText().find("zeta, Zed"));
  // The server adds the owner condition to deletes in the card area.
  ExpectSelectsOnly(store, Hidden(page, "xPath") + "[OWNER=\"alice\"]", "101");
}

TEST(DeleteConfirmation, IdentifiersWithQuotesStayLiterals) {
  const struct {
    const char* id_xml;  // as written in the store
    const char* id;      // the request field
    const char* xpath;
  } kCases[] = {
      {"7'x", "7'x", "xBase/vCard[ID=\"7'x\"]"},
      {"7&quot;x", "7\"x", "xBase/vCard[ID='7\"x']"},
      {"'&quot;", "'\"", "xBase/vCard[ID=concat('', \"'\", '\"')]"},
  };
  for (const auto& c : kCases) {
    const std::string store = std::string("<xBase><vCard><FN>a</FN><OWNER>alice</OWNER><ID>") + c.id_xml +
                              "</ID></vCard><vCard><FN>b</FN><OWNER>alice</OWNER><ID>other</ID></vCard></xBase>";
    TPageRenderer renderer;
    const TParsedPage page(kXhtmlProlog, renderer.Render("pelorin/delete.htm", store, {std::string("ID=") + c.id}).output);
    ASSERT_TRUE(page.ok());
    EXPECT_EQ(c.xpath, Hidden(page, "xPath"));
    ExpectSelectsOnly(store, Hidden(page, "xPath"), c.id);
  }
}

TEST(ImportForm, PostsTheFileAsAnUpload) {
  TPageRenderer renderer;
  const TParsedPage page(kXhtmlProlog, renderer.Render("pelorin/import.htm", FixtureText("cards.xml"), {}).output);
  EXPECT_EQ(1, page.Count("//h:form[@method='post'][@enctype='multipart/form-data'][@action='import.htm']"
                          "[.//h:input[@type='file']][.//h:input[@type='hidden'][@name='vcfupload']]"));
}

}  // namespace
}  // namespace pelorin::testing
