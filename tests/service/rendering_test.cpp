// The render branch and static files through HTTPServerCommandGet, with the
// fixture pages of tests/data/pages installed in the module's directory: prologs,
// response types, parameters, narrowing, errors and their log lines.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/service/web_fixture.h"

namespace pelorin::testing {
namespace {

constexpr char kXhtmlProlog[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 "
    "Transitional//EN\" \"DTD/xhtml1-transitional.dtd\">";
constexpr char kWmlProlog[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><!DOCTYPE wml PUBLIC \"-//WAPFORUM//DTD WML 1.1//EN\" "
    "\"http://www.wapforum.org/DTD/wml_1.1.xml\">";

// "M\u00fcller \u20ac" in UTF-8: one character ISO-8859-1 holds, one it does not.
constexpr char kCards[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xBase>"
    "<vCard><FN>M\xc3\xbcller \xe2\x82\xac</FN><OWNER>bob</OWNER><ID>1</ID></vCard>"
    "<vCard><FN>Alice's</FN><OWNER>alice</OWNER><ID>2</ID></vCard>"
    "</xBase>";

class RenderingTest : public TWebTest {
 protected:
  void SetUp() override { StartWith(kCards); }
  std::string Shown(const ResponseInfo& res) {
    const auto start = res.Body.find("<p>");
    return start == std::string::npos ? std::string() : res.Body.substr(start + 3, res.Body.find("</p>") - start - 3);
  }
};

TEST_F(RenderingTest, XhtmlPageStartsWithItsPrologAndNoLineBreak) {
  InstallPage("show.xsl", "pelorin/index.htm.xsl");
  const ResponseInfo res = Get("/pelorin/index.htm", "bob", "pw");
  EXPECT_EQ(200, res.StatusCode);
  EXPECT_EQ("text/html", res.BodyType);
  ASSERT_TRUE(res.Body.starts_with(kXhtmlProlog)) << res.Body;
  EXPECT_TRUE(res.Body.substr(sizeof kXhtmlProlog - 1).starts_with("<html><body><p>")) << res.Body;
}

TEST_F(RenderingTest, WmlDeckStartsWithItsPrologAndType) {
  InstallPage("show.xsl", "pelorin/index.wml.xsl");
  const ResponseInfo res = Get("/pelorin/index.WML", "bob", "pw");
  // The stylesheet name keeps the path's letters: index.WML.xsl does not exist.
  EXPECT_EQ(500, res.StatusCode);
  const ResponseInfo deck = Get("/pelorin/index.wml", "bob", "pw");
  EXPECT_EQ(200, deck.StatusCode);
  EXPECT_EQ("text/vnd.wap.wml", deck.BodyType);
  ASSERT_TRUE(deck.Body.starts_with(kWmlProlog)) << deck.Body;
  EXPECT_TRUE(deck.Body.substr(sizeof kWmlProlog - 1).starts_with("<html>"));
}

TEST_F(RenderingTest, VcfExportLosesItsFirstUtf16DeclarationAndStaysUtf8) {
  InstallPage("export.xsl", "pelorin/export.vcf.xsl");
  const ResponseInfo res = Get("/pelorin/export.vcf", "bob", "pw");
  EXPECT_EQ(200, res.StatusCode);
  EXPECT_EQ("text/x-vcard; charset=UTF-8", res.BodyType);
  // The lower-case declaration at the start goes; the second one stays. vCard
  // text is not narrowed to Latin-1: the euro sign stays.
  EXPECT_EQ("FN:M\xC3\xBCller \xE2\x82\xAC\r\n<?XML VERSION=\"1.0\" ENCODING=\"UTF-16\"?>", res.Body);
}

TEST_F(RenderingTest, MarkupWritesNonAsciiAsCharacterReferences) {
  InstallPage("show.xsl", "pelorin/index.htm.xsl");
  const ResponseInfo res = Get("/pelorin/index.htm", "bob", "pw");
  EXPECT_NE(std::string::npos, res.Body.find("<i>M&#252;ller &#8364;</i></body>")) << res.Body;
  // A page of the card area is given its user's cards only.
  EXPECT_EQ(std::string::npos, res.Body.find("Alice's")) << res.Body;
  for (const char c : res.Body) EXPECT_LT(static_cast<unsigned char>(c), 128u);
}

// The last vCard download of each user is kept: asked again it is the same
// bytes, and it is made again once the user's cards, the request's fields, the
// account or the stylesheet changed.
TEST_F(RenderingTest, AVcardDownloadIsMadeAgainOnlyWhenWhatItIsMadeFromChanged) {
  InstallPage("export.xsl", "pelorin/export.vcf.xsl");
  const ResponseInfo first = Get("/pelorin/export.vcf", "bob", "pw");
  ASSERT_EQ(200, first.StatusCode);
  EXPECT_EQ(first.Body, Get("/pelorin/export.vcf", "bob", "pw").Body);
  EXPECT_EQ(std::string::npos, first.Body.find("Zed"));

  ASSERT_EQ(302, Post("/pelorin/index.htm",
                      {{"Command", "insert"}, {"XML", "<vCard><FN>Zed</FN></vCard>"}, {"Redirect", "index.htm"}}, "bob",
                      "pw")
                     .StatusCode);
  const ResponseInfo after_insert = Get("/pelorin/export.vcf", "bob", "pw");
  EXPECT_NE(std::string::npos, after_insert.Body.find("FN:Zed\r\n")) << after_insert.Body;
  EXPECT_EQ(std::string::npos, Get("/pelorin/export.vcf", "alice", "Secret1").Body.find("Zed"));

  InstallPage("show.xsl", "pelorin/export.vcf.xsl");
  EXPECT_NE(std::string::npos, Get("/pelorin/export.vcf", "bob", "pw").Body.find("USER=[bob]"));
  EXPECT_NE(std::string::npos, Send("GET", "/pelorin/export.vcf", "q=abc", "bob", "pw").Body.find("q=[abc]"));
  EXPECT_NE(std::string::npos, Get("/pelorin/export.vcf", "bob", "pw").Body.find("q=[]"));
}

TEST_F(RenderingTest, AWrittenDownloadIsKeptUntilTheCardsChange) {
  const ResponseInfo first = Get("/pelorin/export4.vcf", "bob", "pw");
  ASSERT_EQ(200, first.StatusCode);
  EXPECT_NE(std::string::npos, first.Body.find("VERSION:4.0"));
  EXPECT_EQ(first.Body, Get("/pelorin/export4.vcf", "bob", "pw").Body);
  EXPECT_NE(first.Body, Get("/pelorin/export3.vcf", "bob", "pw").Body);
  ASSERT_EQ(302, Post("/pelorin/index.htm",
                      {{"Command", "insert"}, {"XML", "<vCard><FN>Zed</FN></vCard>"}, {"Redirect", "index.htm"}}, "bob",
                      "pw")
                     .StatusCode);
  EXPECT_NE(std::string::npos, Get("/pelorin/export4.vcf", "bob", "pw").Body.find("FN:Zed"));
  EXPECT_EQ(std::string::npos, Get("/pelorin/export4.vcf", "alice", "Secret1").Body.find("FN:Zed"));
}

TEST_F(RenderingTest, ServerParametersFollowTheAccount) {
  InstallPage("show.xsl", "pelorin/index.htm.xsl");
  EXPECT_EQ("USER=[bob] NAME=[Bob B] ADMIN=[] VERSION=[Pelorin V1.0.1] q=[] store=[xBase]",
            Shown(Send("GET", "/pelorin/index.htm", "", "BOB", "pw")));
  // Typed with capitals, sent in lower case; the display name keeps its case.
  EXPECT_EQ("USER=[alice] NAME=[Alice A] ADMIN=[true] VERSION=[Pelorin V1.0.1] q=[] store=[xBase]",
            Shown(Send("GET", "/pelorin/index.htm", "", " ALICE ", "Secret1")));
}

TEST_F(RenderingTest, RequestFieldsCannotReplaceTheServerParameters) {
  InstallPage("show.xsl", "pelorin/index.htm.xsl");
  for (const char* query : {"USER=alice&ADMIN=true&name=Eve&Version=0", "user=alice&admin=true", "USER&ADMIN",
                            "Admin=true&q=x"}) {
    const std::string shown = Shown(Send("GET", "/pelorin/index.htm", query, "bob", "pw"));
    EXPECT_TRUE(shown.starts_with("USER=[bob] NAME=[Bob B] ADMIN=[] VERSION=[Pelorin V1.0.1]")) << query << shown;
  }
}

TEST_F(RenderingTest, OtherRequestFieldsReachTheStylesheetFirstEntryWinning) {
  InstallPage("show.xsl", "pelorin/index.htm.xsl");
  EXPECT_TRUE(Shown(Send("GET", "/pelorin/index.htm", "q=first&Q=second", "bob", "pw")).ends_with("q=[first] store=[xBase]"));
  // A value is a string, never an expression.
  EXPECT_TRUE(Shown(Send("GET", "/pelorin/index.htm", "q=%27%29+or+count%28%2F%29", "bob", "pw"))
                  .ends_with("q=[') or count(/)] store=[xBase]"));
}

TEST_F(RenderingTest, EachAreaRendersItsOwnStore) {
  InstallPage("show.xsl", "user/list.htm.xsl");
  InstallPage("show.xsl", "config/list.htm.xsl");
  InstallPage("show.xsl", "users.htm.xsl");
  EXPECT_TRUE(Shown(Get("/user/list.htm", "alice", "Secret1")).ends_with("store=[xUser]"));
  EXPECT_TRUE(Shown(Get("/config/list.htm", "alice", "Secret1")).ends_with("store=[xConfig]"));
  EXPECT_TRUE(Shown(Get("/users.htm", "alice", "Secret1")).ends_with("store=[xBase]"));
}

TEST_F(RenderingTest, MissingOrBrokenStylesheetIsAnsweredAndLogged) {
  InstallPage("broken.xsl", "pelorin/broken.htm.xsl");
  for (const char* path : {"/pelorin/missing.htm", "/pelorin/broken.htm", "/pelorin/missing.vcf"}) {
    const ResponseInfo res = Get(path, "bob", "pw");
    EXPECT_EQ(500, res.StatusCode) << path;
    EXPECT_EQ(std::string("Error transforming file: ") + path, res.Body);
    EXPECT_NE(std::string::npos, LogText().find(std::string(": Error transforming file: ") + path + "\r\n")) << path;
  }
}

TEST_F(RenderingTest, ErrorWhileApplyingIsTheBodyAndIsNotLogged) {
  InstallPage("failing.xsl", "pelorin/index.htm.xsl");
  const ResponseInfo res = Get("/pelorin/index.htm", "bob", "pw");
  EXPECT_EQ(500, res.StatusCode);
  EXPECT_NE(std::string::npos, res.Body.find("card list unavailable")) << res.Body;
  EXPECT_TRUE(res.Body.ends_with("\r\n"));
  EXPECT_EQ(std::string::npos, res.Body.find("<?xml"));
  EXPECT_EQ(std::string::npos, LogText().find("Error transforming"));
}

TEST_F(RenderingTest, ReplacedStylesheetIsUsedFromTheNextRequest) {
  InstallPage("show.xsl", "pelorin/index.htm.xsl");
  EXPECT_EQ(200, Get("/pelorin/index.htm", "bob", "pw").StatusCode);
  InstallPage("broken.xsl", "pelorin/index.htm.xsl");
  EXPECT_EQ("Error transforming file: /pelorin/index.htm", Get("/pelorin/index.htm", "bob", "pw").Body);
  EXPECT_EQ("Error transforming file: /pelorin/index.htm", Get("/pelorin/index.htm", "bob", "pw").Body);
  InstallPage("export.xsl", "pelorin/index.htm.xsl");
  // A text result in an .htm page: the prolog goes first and the declaration stays.
  EXPECT_EQ(std::string(kXhtmlProlog) + "<?xml version=\"1.0\" encoding=\"utf-16\"?>FN:M\xfcller ?\r\n"
                                        "<?XML VERSION=\"1.0\" ENCODING=\"UTF-16\"?>",
            Get("/pelorin/index.htm", "bob", "pw").Body);
}

TEST_F(RenderingTest, RenderingChangesNoStoreAndArmsNoTimer) {
  InstallPage("show.xsl", "pelorin/index.htm.xsl");
  const std::string before = CardsText();
  Send("GET", "/pelorin/index.htm", "Command=delete&xPath=%2F%2FvCard", "bob", "pw");
  EXPECT_EQ(before, CardsText());
  EXPECT_FALSE(TimerEnabled());
}

TEST(WrapOutputTest, PrologsAndTheUtf16Declaration) {
  const struct {
    const char* ext;
    const char* text;
    std::string wrapped;
  } cases[] = {
      {".htm", "<html/>", std::string(kXhtmlProlog) + "<html/>"},
      {".wml", "", kWmlProlog},
      {".vcf", "<?xml version=\"1.0\" encoding=\"UTF-16\"?>BEGIN", "BEGIN"},
      {".vcf", "A<?XML Version=\"1.0\" Encoding=\"utf-16\"?>B", "AB"},
      {".vcf", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>X", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>X"},
      {".vcf", "<?xml version='1.0' encoding='UTF-16'?>X", "<?xml version='1.0' encoding='UTF-16'?>X"},
      {".vcf", "<?xml version=\"1.0\" encoding=\"UTF-16\"?", "<?xml version=\"1.0\" encoding=\"UTF-16\"?"},
      {".vcf", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.wrapped, TPelorinService::WrapOutput(c.ext, c.text)) << c.ext << c.text;
}

class StaticFileTest : public TWebTest {
 protected:
  void SetUp() override { StartWith(kCards); }
};

TEST_F(StaticFileTest, GifBytesArriveUnchangedAsAnImage) {
  InstallPage("dot.gif", "pelorin/dot.gif");
  const std::string bytes = ReadFile(PageFixture("dot.gif"));
  ASSERT_NE(std::string::npos, bytes.find('\0'));
  for (const char* path : {"/pelorin/dot.gif", "/pelorin/dot.GIF"}) {
    if (std::string(path).ends_with("GIF")) InstallPage("dot.gif", "pelorin/dot.GIF");
    const ResponseInfo res = Get(path, "bob", "pw");
    EXPECT_EQ(200, res.StatusCode) << path;
    EXPECT_EQ("image/gif", res.BodyType) << path;
    EXPECT_EQ(bytes, res.Body) << path;
  }
}

TEST_F(StaticFileTest, MissingFileNamesItsFullLocalName) {
  for (const char* path : {"/pelorin/missing.css", "/pelorin/logo.jpeg", "/nowhere/a.jpg"}) {
    const ResponseInfo res = Get(path, "bob", "pw");
    EXPECT_EQ(404, res.StatusCode) << path;
    EXPECT_EQ("File '" + dir_.path() + path + "' not found", res.Body);
  }
  EXPECT_EQ(std::string::npos, LogText().find("not found"));
}

TEST_F(StaticFileTest, EmptyFileGivesAnEmptyOk) {
  WriteFile(dir_.File("pelorin/empty.css"), "");
  const ResponseInfo res = Get("/pelorin/empty.css", "bob", "pw");
  EXPECT_EQ(200, res.StatusCode);
  EXPECT_TRUE(res.Body.empty());
}

TEST_F(StaticFileTest, UnreadableFileGivesAnEmptyServerError) {
  std::filesystem::create_directory(dir_.File("pelorin/folder.css"));
  const ResponseInfo res = Get("/pelorin/folder.css", "bob", "pw");
  EXPECT_EQ(500, res.StatusCode);
  EXPECT_TRUE(res.Body.empty());
}

TEST_F(StaticFileTest, ExistingPagesWinOverTheirStylesheet) {
  InstallPage("show.xsl", "pelorin/index.htm.xsl");
  InstallPage("show.xsl", "pelorin/fixed.wml.xsl");
  InstallPage("fixed.wml", "pelorin/fixed.wml");
  WriteFile(dir_.File("pelorin/index.htm"), "<p>fixed</p>");
  EXPECT_EQ("<p>fixed</p>", Get("/pelorin/index.htm", "bob", "pw").Body);
  const ResponseInfo deck = Get("/pelorin/fixed.wml", "bob", "pw");
  EXPECT_EQ("text/vnd.wap.wml", deck.BodyType);
  EXPECT_EQ(ReadFile(PageFixture("fixed.wml")), deck.Body);
}

TEST_F(StaticFileTest, StoreFilesAndStylesheetsAreNeverSent) {
  InstallPage("show.xsl", "pelorin/index.htm.xsl");
  for (const char* path : {"/pelorin/base.xml", "/pelorin/index.htm.xsl", "/config/config.xml"}) {
    const ResponseInfo res = Get(path, "alice", "Secret1");
    EXPECT_EQ(200, res.StatusCode) << path;
    EXPECT_TRUE(res.Body.empty()) << path;
  }
}

}  // namespace
}  // namespace pelorin::testing
