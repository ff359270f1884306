// Whatever a post puts into a store, the store the service saves loads again:
// fragments past the bounds (depth where the record will stand, attributes,
// texts a removal joins, names an ISO-8859-1 file cannot hold) are refused with
// 500 before anything changes, and what is accepted (a tab in an attribute,
// white space under xml:space="preserve") comes back from the file unchanged.
// Each case ends with a stop and a start on the saved stores.
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
    "<User><USER>bob</USER><PASSWORD>pb</PASSWORD><NAME>Bob</NAME></User>"
    "</xUser>";
constexpr char kCards[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase>"
    "<vCard><FN>Kept</FN><OWNER>bob</OWNER><ID>1</ID></vCard>"
    "</xBase>";
// The names of the cards, then the card "Shown" in detail: its NOTE, the
// attribute a of its X, the number of elements inside X.
constexpr char kDumpStylesheet[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n"
    "  <xsl:output method=\"text\"/>\n"
    "  <xsl:template match=\"/\">"
    "<xsl:for-each select=\"/*/vCard\"><xsl:value-of select=\"FN\"/>|</xsl:for-each>"
    "<xsl:for-each select=\"/*/vCard[FN='Shown']\">[<xsl:value-of select=\"NOTE\"/>]"
    "[<xsl:value-of select=\"X/@a\"/>][<xsl:value-of select=\"count(X//*)\"/>]"
    "</xsl:for-each></xsl:template>\n"
    "</xsl:stylesheet>\n";

// A card whose element `levels` below the record is the deepest.
std::string CardNested(std::size_t levels) {
  std::string open, close;
  for (std::size_t i = 0; i < levels; ++i) {
    open += "<a>";
    close = "</a>" + close;
  }
  return "<vCard><FN>Shown</FN><NOTE>deep</NOTE><X>" + open.substr(3) + "x" + close.substr(0, close.size() - 4) +
         "</X></vCard>";
}

class StoresLoadAgainTest : public ::testing::Test {
 protected:
  void Launch(const std::string& cards = kCards) {
    WriteFile(app_.File("config/config.xml"), TAppDir::ConfigWithPort(port_));
    WriteFile(app_.File("pelorin/base.xml"), cards);
    WriteFile(app_.File("user/user.xml"), kUsers);
    WriteFile(app_.File("pelorin/dump.vcf.xsl"), kDumpStylesheet);
    Start();
  }
  void Start() {
    server_ = std::make_unique<TServerProcess>(app_.Executable());
    ASSERT_TRUE(server_->WaitForPort(port_)) << app_.LogText();
  }
  // Stops the service (which saves every store) and starts it on what it saved.
  void StopAndRestart() {
    server_->Signal(SIGTERM);
    ASSERT_EQ(std::optional<int>(0), server_->WaitForExit());
    Start();
  }

  THttpAnswer Post(const std::string& target, const std::vector<std::pair<std::string, std::string>>& fields,
                   const std::string& user = "bob", const std::string& password = "pb") {
    return Request(port_, "POST", target, user, password, FormBody(fields));
  }
  THttpAnswer Insert(const std::string& xml) {
    return Post("/pelorin/index.htm", {{"Command", "insert"}, {"XML", xml}, {"Redirect", "index.htm"}});
  }
  std::string Dump() { return Request(port_, "GET", "/pelorin/dump.vcf", "bob", "pb").Body; }

  TAppDir app_;
  std::uint16_t port_ = FreePort();
  std::unique_ptr<TServerProcess> server_;
};

// The record stands two levels down (document element, record), so a fragment
// deep enough for the fragment parser could still break the loader's depth limit
// once saved. Depth is counted from the record.
TEST_F(StoresLoadAgainTest, DepthIsCountedWhereTheRecordWillStand) {
  Launch();
  const THttpAnswer too_deep = Insert(CardNested(257));
  EXPECT_EQ(500, too_deep.Status);
  EXPECT_EQ("Error inserting record. The record has more than 64 levels of elements below it.", too_deep.Body);
  EXPECT_EQ(500, Insert(CardNested(65)).Status);
  const THttpAnswer edit = Post("/pelorin/index.htm", {{"Command", "edit"},
                                                      {"xPath", "/*/vCard[ID=\"1\"]"},
                                                      {"XML", CardNested(257)},
                                                      {"Redirect", "index.htm"}});
  EXPECT_EQ(500, edit.Status);
  EXPECT_EQ("Error editing record: /*/vCard[ID=\"1\"]: The record has more than 64 levels of elements below it.",
            edit.Body);
  EXPECT_EQ("Kept|", Dump());  // the edit changed nothing before it was refused

  EXPECT_EQ(302, Insert(CardNested(64)).Status);
  EXPECT_EQ("Kept|Shown|[deep][][63]", Dump());
  StopAndRestart();
  EXPECT_EQ("Kept|Shown|[deep][][63]", Dump());
  EXPECT_NE(std::string::npos, app_.LogText().find("levels of elements below it"));
}

// libxml2's duplicate-attribute check is quadratic: such a fragment is refused
// on its text, before the parser sees it, and the service goes on serving.
TEST_F(StoresLoadAgainTest, AHundredThousandAttributesAreRefusedBeforeParsing) {
  Launch();
  std::string card = "<vCard><FN>Shown</FN><X";
  for (int i = 0; i < 100'000; ++i) card += " a" + std::to_string(i) + "=\"\"";
  card += "/></vCard>";
  const THttpAnswer refused = Insert(card);
  EXPECT_EQ(500, refused.Status);
  EXPECT_EQ("Error inserting record. The record has more than 256 attributes on one element.", refused.Body);
  std::string spread = "<vCard><FN>Shown</FN>";
  for (int i = 0; i < 100; ++i) {
    spread += "<X";
    for (int j = 0; j < 101; ++j) spread += " a" + std::to_string(j) + "=\"\"";
    spread += "/>";
  }
  const THttpAnswer spread_refused = Insert(spread + "</vCard>");
  EXPECT_EQ("Error inserting record. The record has more than 10000 attributes.", spread_refused.Body);
  EXPECT_EQ("Kept|", Dump());
  StopAndRestart();
  EXPECT_EQ("Kept|", Dump());
}

// Each text is within its bound, but removing the elements between them would
// join nine of them into one past what the loader reads: the delete is refused
// whole, and the configuration store loads again.
TEST_F(StoresLoadAgainTest, ARemovalThatWouldJoinTextsPastTheLoadersLimitIsRefused) {
  Launch();
  std::string note = "<Note>";
  for (int i = 0; i < 9; ++i) note += std::string(1'000'000, static_cast<char>('a' + i)) + "<x/>";
  note += "</Note>";
  const THttpAnswer inserted = Post("/config/index.htm", {{"Command", "insert"}, {"XML", note}}, "admin", "admin");
  EXPECT_EQ(302, inserted.Status) << inserted.Body;
  const THttpAnswer joined =
      Post("/config/index.htm", {{"Command", "delete"}, {"xPath", "/*/Note/x"}}, "admin", "admin");
  EXPECT_EQ(500, joined.Status);
  EXPECT_EQ("Error deleting record: /*/Note/x: the removal would join texts past 8000000 bytes", joined.Body);
  // Removing some of them keeps every joined text within the bound.
  const THttpAnswer partly =
      Post("/config/index.htm", {{"Command", "delete"}, {"xPath", "/*/Note/x[position() < 4]"}}, "admin", "admin");
  EXPECT_EQ(302, partly.Status) << partly.Body;
  StopAndRestart();
  const std::string config = ReadFile(app_.File("config/config.xml"));
  EXPECT_EQ(6u, [&] {
    std::size_t count = 0;
    for (std::size_t at = config.find("<x/>"); at != std::string::npos; at = config.find("<x/>", at + 1)) ++count;
    return count;
  }());
  EXPECT_NE(std::string::npos, config.find(std::string(1'000'000, 'a') + std::string(1'000'000, 'b')));
}

// An ISO-8859-1 store writes any character of a text or an attribute as a
// reference, but names, comments and CDATA sections have none: a record needing
// a character beyond Latin-1 there is refused, and the file stays ISO-8859-1 and
// loadable.
TEST_F(StoresLoadAgainTest, ALatin1StoreRefusesNamesItCannotWriteAndKeepsTextsWhole) {
  Launch(
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<xBase>"
      "<vCard><FN>Kept</FN><OWNER>bob</OWNER><ID>1</ID></vCard>"
      "</xBase>");
  const std::string refusal =
      "Error inserting record. The store's file encoding cannot hold a character of the record's element names, "
      "comments or CDATA sections.";
  for (const char* card : {"<vCard><FN>n</FN><\xE2\x82\xAC>1</\xE2\x82\xAC></vCard>",
                           "<vCard><FN>n</FN><X \xE4\xB8\xAD=\"1\"/></vCard>",
                           "<vCard><FN>n</FN><!-- \xE4\xB8\xAD --></vCard>",
                           "<vCard><FN>n</FN><NOTE><![CDATA[\xE2\x82\xAC]]></NOTE></vCard>"}) {
    const THttpAnswer refused = Insert(card);
    EXPECT_EQ(500, refused.Status) << card;
    EXPECT_EQ(refusal, refused.Body) << card;
  }
  EXPECT_EQ(302, Insert("<vCard><FN>Shown</FN><NOTE>\xE2\x82\xAC \xE4\xB8\xAD \xC3\xA9</NOTE>"
                        "<X a=\"\xE2\x82\xAC\"/><\xC3\xA9t\xC3\xA9>Latin-1 name</\xC3\xA9t\xC3\xA9></vCard>")
                     .Status);
  EXPECT_EQ("Kept|Shown|[\xE2\x82\xAC \xE4\xB8\xAD \xC3\xA9][\xE2\x82\xAC][0]", Dump());
  StopAndRestart();
  EXPECT_EQ("Kept|Shown|[\xE2\x82\xAC \xE4\xB8\xAD \xC3\xA9][\xE2\x82\xAC][0]", Dump());
  const std::string file = ReadFile(app_.File("pelorin/base.xml"));
  EXPECT_EQ(0u, file.find("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>")) << file;
  EXPECT_NE(std::string::npos, file.find("<NOTE>&#8364; &#20013; &#233;</NOTE>")) << file;
  EXPECT_NE(std::string::npos, file.find("<X a=\"&#8364;\"/>")) << file;
  EXPECT_NE(std::string::npos, file.find("<\xE9t\xE9>Latin-1 name</\xE9t\xE9>")) << file;
  StopAndRestart();
  EXPECT_EQ(file, ReadFile(app_.File("pelorin/base.xml")));
}

// Attribute values are normalised on loading (a raw tab becomes a space), so a tab
// must be written as a reference; and text under xml:space="preserve" is never
// indented or trimmed (its line ends are written as CR LF, like every other, and
// read back as LF).
TEST_F(StoresLoadAgainTest, TabsInAttributesAndPreservedSpaceSurviveSaveAndLoad) {
  Launch();
  EXPECT_EQ(302, Insert("<vCard><FN>Shown</FN><NOTE xml:space=\"preserve\">  two\n\n  lines <b>bold</b>  </NOTE>"
                        "<X a=\"1&#9;2\"/></vCard>")
                     .Status);
  const std::string shown = "Kept|Shown|[  two\n\n  lines bold  ][1\t2][0]";
  EXPECT_EQ(shown, Dump());
  StopAndRestart();
  EXPECT_EQ(shown, Dump());
  const std::string file = ReadFile(app_.File("pelorin/base.xml"));
  EXPECT_NE(std::string::npos, file.find("a=\"1&#9;2\"")) << file;
  EXPECT_NE(std::string::npos, file.find(">  two\r\n\r\n  lines <b>bold</b>  </NOTE>")) << file;
  StopAndRestart();  // a second round trip changes nothing
  EXPECT_EQ(file, ReadFile(app_.File("pelorin/base.xml")));
}

}  // namespace
}  // namespace pelorin::testing
