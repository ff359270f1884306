// The store file format byte for byte, its encodings, and the safety of the
// save itself.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "tests/xml/dom_fixture.h"
#include "xml/quickdom.h"

namespace pelorin::testing {
namespace {

using SaveTest = DomTest;

TEST_F(SaveTest, GoldenStoreBytes) {
  Load("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xBase>\n<vCard><FN>J\xC3\xBCrgen</FN>"
       "<NOTE>line 1\nline 2</NOTE><EMPTY/><TEL><NUMBER>1</NUMBER><WORK/></TEL></vCard></xBase>");
  EXPECT_EQ(
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase>\r\n  <vCard>\r\n"
      "    <FN>J&#252;rgen</FN>\r\n    <NOTE>line 1\r\nline 2</NOTE>\r\n    <EMPTY/>\r\n"
      "    <TEL>\r\n      <NUMBER>1</NUMBER>\r\n      <WORK/>\r\n    </TEL>\r\n  </vCard>\r\n"
      "</xBase>",
      dom_.SaveToString());
}

TEST_F(SaveTest, CharacterEscaping) {
  const struct {
    const char* text;  // UTF-8 content of an element
    const char* want;  // as written in the file
  } cases[] = {
      {"A & B", "A &amp; B"},
      {"a<b>c", "a&lt;b>c"},           // ">" stays as it is
      {"say \"hi\" 'x'", "say \"hi\" 'x'"},
      {"tab\there", "tab\there"},
      {"cr\rhere", "cr&#13;here"},
      {"\xC3\xA9\xE2\x82\xAC", "&#233;&#8364;"},
      {"\xF0\x9F\x98\x80", "&#128512;"},  // one reference for the character, not two halves
      {"x]]>y", "x]]&gt;y"},              // would otherwise end the file's well-formedness
      {"~ and \x7F", "~ and &#127;"},
  };
  for (const auto& c : cases) {
    Load("<r><t/></r>");
    ASSERT_TRUE(dom_.SelectNode("r/t"));
    ASSERT_TRUE(dom_.SetText(c.text));
    EXPECT_EQ(std::string("<r>\r\n  <t>") + c.want + "</t>\r\n</r>", Saved()) << c.text;
    // And it reads back to the same text.
    TQuickDom again;
    ASSERT_EQ(0, LoadInto(again, dom_.SaveToString())) << c.text;
    ASSERT_TRUE(again.SelectNode("r/t"));
    EXPECT_EQ(c.text, again.GetText());
  }
}

TEST_F(SaveTest, AttributeEscaping) {
  Load("<r a=\"x&amp;y&lt;z&gt;&quot;\" b=\"l1&#10;l2\" c=\"&#252;\"/>");
  EXPECT_EQ("<r a=\"x&amp;y&lt;z>&#34;\" b=\"l1&#xA;l2\" c=\"&#252;\"/>", Saved());
}

TEST_F(SaveTest, CommentsProcessingInstructionsAndCdata) {
  Load("<!--top--><r><a>x<!--c-->tail</a><?pi some data?><b><![CDATA[<raw>]]></b></r>");
  EXPECT_EQ(
      "<!--top-->\r\n<r>\r\n  <a>x\r\n    <!--c-->\r\n    tail</a>\r\n  <?pi some data?>\r\n"
      "  <b><![CDATA[<raw>]]>\r\n  </b>\r\n</r>",
      Saved());
}

TEST_F(SaveTest, LoadThenSaveIsAFixedPoint) {
  const char* stores[] = {
      // Written by hand: LF line ends, tabs and odd indentation.
      ("<?xml version=\"1.0\"?>\n<xBase>\n\t<vCard>\n\t\t<FN>Ann</FN>\n      <NOTE>keep  two "
       "spaces\n and this line</NOTE>\n\t</vCard>\n\n</xBase>\n"),
      // Mixed content and comments, where indentation meets data.
      "<r><a>x<b/>y<!--c-->z</a><a>  </a><a>lead\n    <b/>\n    </a></r>",
      "<r><!--only comment--></r>",
      "<r>text<![CDATA[cd]]><e/></r>",
      // Text that the parser delivers in pieces around line ends.
      "<r><v>  ns*<FN>\t\r\n    Ann</FN></v><n> \r\nabc\r\n </n><c>&#10;<d/></c></r>",
      // Data that ends like indentation, and CDATA as the last child.
      "<r><v><N/><![CDATA[x]]>t8?p-\n  </v><w><![CDATA[y]]></w><u>a<!--c--></u></r>",
  };
  for (const char* store : stores) {
    Load(store);
    const std::string first = dom_.SaveToString();
    TQuickDom again;
    ASSERT_EQ(0, LoadInto(again, first)) << store;
    EXPECT_EQ(first, again.SaveToString()) << store;
    TQuickDom third;
    ASSERT_EQ(0, LoadInto(third, again.SaveToString())) << store;
    EXPECT_EQ(first, third.SaveToString()) << store;
  }
}

TEST_F(SaveTest, HandWrittenIndentationIsNotData) {
  Load("<xBase>\n  <vCard>\n    <FN>Ann</FN>\n  </vCard>\n</xBase>\n");
  ASSERT_TRUE(dom_.SelectNode("xBase/vCard"));
  EXPECT_EQ("", dom_.GetText());
  ASSERT_TRUE(dom_.SelectFirstChild());
  EXPECT_EQ("Ann", dom_.GetText());
}

TEST_F(SaveTest, WhiteSpaceThatIsDataSurvives) {
  const struct {
    const char* store;
    const char* xpath;
    const char* text;
  } cases[] = {
      {"<r><FN>\t\r\n    Ann</FN></r>", "r/FN", "\t\n    Ann"},
      {"<r><N> \r\nabc\r\n </N></r>", "r/N", " \nabc\n "},
      {"<r><E>   </E></r>", "r/E", "   "},         // white space alone is the element's text
      {"<r><E>&#10;</E></r>", "r/E", "\n"},
      {"<r><M> a <b/> c </M></r>", "r/M", " a  c "},  // mixed content keeps its blanks
      {"<r><C><![CDATA[x]]>  </C></r>", "r/C", "  "},
  };
  for (const auto& c : cases) {
    Load(c.store);
    ASSERT_TRUE(dom_.SelectNode(c.xpath)) << c.store;
    EXPECT_EQ(c.text, dom_.GetText()) << c.store;
  }
}

TEST_F(SaveTest, EncodingOfTheLoadedFileIsKept) {
  // UTF-16 little-endian with its byte-order mark.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<r>\xFC</r>")) {
    utf16 += c;
    utf16 += '\0';
  }
  Load(utf16);
  std::string want16 = "\xFF\xFE";
  for (char c : std::string("<r>&#252;</r>")) {
    want16 += c;
    want16 += '\0';
  }
  EXPECT_EQ(want16, dom_.SaveToString());

  Load("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\xFC<!--\xE9--></r>");
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<r>&#252;\r\n  <!--\xE9-->\r\n</r>",
      dom_.SaveToString());

  Load("<r>no declaration, no mark</r>");
  EXPECT_EQ("\xEF\xBB\xBF<r>no declaration, no mark</r>", dom_.SaveToString());
}

TEST_F(SaveTest, SaveToFileWritesTheFileAndNothingElse) {
  Load("<r><a>1</a></r>");
  const std::string path = dir_.File("base.xml");
  EXPECT_EQ(0, dom_.SaveToFile(path));
  EXPECT_EQ(dom_.SaveToString(), ReadFile(path));
  struct stat info {};
  ASSERT_EQ(0, ::stat(path.c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 0777u);  // a store may hold passwords
  ::chmod(path.c_str(), 0640);
  EXPECT_EQ(0, dom_.SaveToFile(path));
  ASSERT_EQ(0, ::stat(path.c_str(), &info));
  EXPECT_EQ(0640u, info.st_mode & 0777u);  // an administrator's choice survives saves
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    ++entries;
  }
  EXPECT_EQ(2u, entries);  // the store loaded by the fixture and base.xml: no temporary left
}

TEST_F(SaveTest, FailedSaveLeavesDocumentAndPreviousFile) {
  Load("<r><a>1</a></r>");
  const std::string path = dir_.File("base.xml");
  ASSERT_EQ(0, dom_.SaveToFile(path));
  const std::string previous = ReadFile(path);
  ASSERT_TRUE(dom_.SelectNode("r/a"));
  ASSERT_TRUE(dom_.SetText("2"));
  // A directory where the temporary file must go makes the save fail, even for root.
  std::filesystem::create_directory(path + ".saving");
  std::filesystem::create_directory(path + ".saving/keep");
  EXPECT_THROW(dom_.SaveToFile(path), std::runtime_error);
  EXPECT_EQ(previous, ReadFile(path));
  EXPECT_EQ("2", dom_.GetText());
  EXPECT_THROW(dom_.SaveToFile(dir_.File("missing/base.xml")), std::runtime_error);
  std::filesystem::remove_all(path + ".saving");
  EXPECT_EQ(0, dom_.SaveToFile(path));  // the next save succeeds once the fault is gone
  EXPECT_NE(previous, ReadFile(path));
}

TEST_F(SaveTest, LoadFailures) {
  TQuickDom dom;
  EXPECT_EQ(-1, dom.LoadFromFile(dir_.File("missing.xml")));
  EXPECT_EQ(-1, LoadInto(dom, "<r><unclosed></r>"));
  EXPECT_EQ(-1, LoadInto(dom, ""));
  EXPECT_FALSE(dom.SelectRoot());
  EXPECT_EQ(0, LoadInto(dom, "<r/>"));
  EXPECT_FALSE(dom.CurrentNode());  // no cursor after a load
}

}  // namespace
}  // namespace pelorin::testing
