// Records read into plain trees, from a text and from a store's cursor.
#include "xml/record_tree.h"

#include <gtest/gtest.h>

#include "tests/xml/dom_fixture.h"
#include "xml/quickdom.h"

namespace pelorin::testing {
namespace {

using E = TRecordElement;

TEST(RecordTreeFromXmlTest, LeavesMarkersAndContainers) {
  const auto tree = RecordTreeFromXml(
      "<vCard><FN>Ann &amp; Bob &#x41;</FN><TEL><NUMBER>1</NUMBER><CELL/></TEL>"
      "<N></N></vCard>");
  ASSERT_TRUE(tree.has_value());
  const E want{"vCard",
               "",
               {{"FN", "Ann & Bob A", {}},
                {"TEL", "", {{"NUMBER", "1", {}}, {"CELL", "", {}}}},
                {"N", "", {}}}};
  EXPECT_EQ(want, *tree);
}

TEST(RecordTreeFromXmlTest, IndentationBetweenElementsIsDroppedBlankLeavesStay) {
  const auto tree = RecordTreeFromXml(
      "<vCard>\n  <NOTE> </NOTE>\n  <TEL>\n    <NUMBER>\n 1\n</NUMBER>\n    <HOME/>\n  </TEL>\n"
      "</vCard>\n");
  ASSERT_TRUE(tree.has_value());
  const E want{"vCard",
               "",
               {{"NOTE", " ", {}}, {"TEL", "", {{"NUMBER", "\n 1\n", {}}, {"HOME", "", {}}}}}};
  EXPECT_EQ(want, *tree);
}

TEST(RecordTreeFromXmlTest, CdataJoinsTextCommentsAndInstructionsAreLeftOut) {
  const auto tree =
      RecordTreeFromXml("<vCard><NOTE>a<!--c--><![CDATA[<b>]]><?pi x?>c</NOTE><!--x--></vCard>");
  ASSERT_TRUE(tree.has_value());
  EXPECT_EQ((E{"vCard", "", {{"NOTE", "a<b>c", {}}}}), *tree);
}

TEST(RecordTreeFromXmlTest, PrefixedNamesKeepTheirPrefix) {
  const auto tree = RecordTreeFromXml("<vCard xmlns:p=\"urn:x\"><p:MINE>v</p:MINE></vCard>");
  ASSERT_TRUE(tree.has_value());
  EXPECT_EQ((E{"vCard", "", {{"p:MINE", "v", {}}}}), *tree);
}

TEST(RecordTreeFromXmlTest, RefusesWhatIsNotOneWellFormedRecord) {
  for (const char* xml : {"", "text only", "<vCard><FN>x</vCard>", "<a/><b/>",
                          "<!DOCTYPE v [<!ENTITY e \"x\">]><vCard><FN>&e;</FN></vCard>",
                          "<vCard><FN>&undeclared;</FN></vCard>"}) {
    EXPECT_FALSE(RecordTreeFromXml(xml).has_value()) << xml;
  }
}

TEST(RecordTreeFromXmlTest, NoExternalEntityIsRead) {
  TTempDir dir;
  const std::string secret = dir.File("secret.txt");
  WriteFile(secret, "top secret");
  const auto tree = RecordTreeFromXml("<!DOCTYPE v [<!ENTITY s SYSTEM \"file://" + secret +
                                      "\">]><vCard><FN>&s;</FN></vCard>");
  EXPECT_FALSE(tree.has_value());
}

class RecordTreeOfCurrentTest : public DomTest {};

TEST_F(RecordTreeOfCurrentTest, TakesTheCursorsElementFromAnIndentedStore) {
  Load("<?xml version=\"1.0\"?>\n<xBase>\n  <vCard>\n    <FN>Ann</FN>\n  </vCard>\n"
       "  <vCard>\n    <FN>Bob</FN>\n    <EMAIL>\n      <USERID>b@x</USERID>\n      <PREF/>\n"
       "    </EMAIL>\n    <ID>2</ID>\n  </vCard>\n</xBase>\n");
  ASSERT_TRUE(dom_.SelectNode("xBase/vCard[2]"));
  const auto tree = RecordTreeOfCurrent(dom_);
  ASSERT_TRUE(tree.has_value());
  const E want{"vCard",
               "",
               {{"FN", "Bob", {}},
                {"EMAIL", "", {{"USERID", "b@x", {}}, {"PREF", "", {}}}},
                {"ID", "2", {}}}};
  EXPECT_EQ(want, *tree);
  EXPECT_EQ("vCard", dom_.CurrentName());  // the cursor stays where it was
}

TEST_F(RecordTreeOfCurrentTest, NothingWhenTheCursorIsOnNoElement) {
  EXPECT_FALSE(RecordTreeOfCurrent(dom_).has_value());  // nothing loaded
  Load("<xBase><vCard><FN>Ann</FN></vCard></xBase>");
  ASSERT_TRUE(dom_.SelectNode("xBase/vCard/FN/text()"));
  EXPECT_FALSE(RecordTreeOfCurrent(dom_).has_value());
  ASSERT_TRUE(dom_.SelectNode("xBase/vCard/FN"));
  EXPECT_EQ((E{"FN", "Ann", {}}), RecordTreeOfCurrent(dom_));
}

}  // namespace
}  // namespace pelorin::testing
