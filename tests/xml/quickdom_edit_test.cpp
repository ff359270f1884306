// Editing at the cursor: texts, new elements, fragments and removal.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/xml/dom_fixture.h"
#include "xml/quickdom.h"

namespace pelorin::testing {
namespace {

class EditTest : public DomTest {
 protected:
  void SetUp() override { Load("<xBase><vCard><FN>Ann</FN></vCard></xBase>"); }
};

TEST_F(EditTest, SetTextCreatesOrReplaces) {
  ASSERT_TRUE(dom_.SelectRoot());
  ASSERT_TRUE(dom_.AddChild("NOTE"));
  EXPECT_TRUE(dom_.SetText("new"));
  EXPECT_EQ("new", dom_.GetText());
  Load("<r><a>one<b/>two<c/>three</a></r>");
  ASSERT_TRUE(dom_.SelectNode("r/a"));
  EXPECT_TRUE(dom_.SetText("only"));
  EXPECT_EQ("only", dom_.GetText());
  EXPECT_EQ("<r>\r\n  <a>only\r\n    <b/>\r\n    <c/>\r\n  </a>\r\n</r>", Saved());
  EXPECT_TRUE(dom_.SetText(""));
  EXPECT_EQ("", dom_.GetText());
  TQuickDom empty;
  EXPECT_FALSE(empty.SetText("x"));
}

TEST_F(EditTest, SetTextKeepsMarkupCharactersAsText) {
  ASSERT_TRUE(dom_.SelectNode("xBase/vCard/FN"));
  ASSERT_TRUE(dom_.SetText("A & B <c> &amp;"));
  EXPECT_EQ("A & B <c> &amp;", dom_.GetText());
}

TEST_F(EditTest, AddChildAndSiblingMoveTheCursor) {
  ASSERT_TRUE(dom_.SelectNode("xBase/vCard"));
  ASSERT_TRUE(dom_.AddChild("OWNER"));
  ASSERT_TRUE(dom_.SetText("ann"));
  ASSERT_TRUE(dom_.AddSibling("ID"));
  ASSERT_TRUE(dom_.SetText("42"));
  EXPECT_EQ("<xBase>\r\n  <vCard>\r\n    <FN>Ann</FN>\r\n    <OWNER>ann</OWNER>\r\n"
            "    <ID>42</ID>\r\n  </vCard>\r\n</xBase>",
            Saved());
  ASSERT_TRUE(dom_.SelectRoot());
  EXPECT_FALSE(dom_.AddSibling("Second"));  // the document element has no element parent
  TQuickDom empty;
  EXPECT_FALSE(empty.AddChild("A"));
  EXPECT_FALSE(empty.AddSibling("A"));
}

TEST_F(EditTest, InvalidElementNamesThrow) {
  ASSERT_TRUE(dom_.SelectNode("xBase/vCard/FN"));
  for (const char* name : {"", "1abc", "a b", "TYPE=WORK", "a:b", "<x>", "-a"}) {
    EXPECT_THROW(dom_.AddChild(name), std::runtime_error) << name;
    EXPECT_THROW(dom_.AddSibling(name), std::runtime_error) << name;
  }
  EXPECT_EQ("Ann", dom_.GetText());  // nothing was added, the cursor stayed
  for (const char* name : {"A", "x-y", "_a.b", "Stra\xC3\x9F" "e"}) {
    ASSERT_TRUE(dom_.SelectNode("xBase/vCard"));
    EXPECT_TRUE(dom_.AddChild(name)) << name;
  }
}

TEST_F(EditTest, AppendFragmentAddsLastChildAndMakesItCurrent) {
  ASSERT_TRUE(dom_.SelectRoot());
  std::string errors = "stale";
  EXPECT_EQ(0, dom_.AppendFragment("<vCard><FN>Bob</FN></vCard>", errors));
  EXPECT_EQ("", errors);
  EXPECT_TRUE(dom_.SelectFirstChild());
  EXPECT_EQ("Bob", dom_.GetText());
  ASSERT_TRUE(dom_.SelectRoot());
  EXPECT_EQ(0, dom_.AppendFragment("<?xml version=\"1.0\"?>\n<!-- made by hand -->\n<vCard>\n"
                                   "  <FN>Cid</FN>\n</vCard>",
                                   errors));
  EXPECT_EQ("<xBase>\r\n  <vCard>\r\n    <FN>Ann</FN>\r\n  </vCard>\r\n  <vCard>\r\n"
            "    <FN>Bob</FN>\r\n  </vCard>\r\n  <vCard>\r\n    <FN>Cid</FN>\r\n  </vCard>\r\n"
            "</xBase>",
            Saved());
}

TEST_F(EditTest, IllFormedFragmentChangesNothing) {
  ASSERT_TRUE(dom_.SelectRoot());
  const std::string before = Saved();
  for (const char* fragment : {"<vCard><FN>Bob</FN>", "<a></b>", "", "text only", "<a/><b/>",
                               "<vCard>J\xFCrgen</vCard>", "<a x='1' x='2'/>"}) {
    std::string errors;
    EXPECT_THROW(dom_.AppendFragment(fragment, errors), std::runtime_error) << fragment;
    EXPECT_FALSE(errors.empty()) << fragment;
    EXPECT_TRUE(dom_.SelectSibling("xBase")) << "cursor still on the document element";
  }
  EXPECT_EQ(before, Saved());
}

TEST_F(EditTest, FragmentInDeclaredSingleByteEncoding) {
  ASSERT_TRUE(dom_.SelectRoot());
  std::string errors;
  ASSERT_EQ(0, dom_.AppendFragment("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                                   "<vCard><FN>J\xFCrgen</FN></vCard>",
                                   errors));
  ASSERT_TRUE(dom_.SelectFirstChild());
  EXPECT_EQ("J\xC3\xBCrgen", dom_.GetText());
}

TEST_F(EditTest, RemoveCurrentTakesTheSubtreeAndMovesUp) {
  Load("<xBase><vCard><N><FAMILY>A</FAMILY></N></vCard><vCard/></xBase>");
  ASSERT_TRUE(dom_.SelectRoot());
  EXPECT_FALSE(dom_.RemoveCurrent());
  ASSERT_TRUE(dom_.SelectNode("xBase/vCard[N]"));
  EXPECT_TRUE(dom_.RemoveCurrent());
  EXPECT_TRUE(dom_.SelectSibling("xBase"));  // the cursor is on the parent
  EXPECT_FALSE(dom_.SelectNode("//FAMILY"));
  EXPECT_EQ("<xBase>\r\n  <vCard/>\r\n</xBase>", Saved());
  TQuickDom empty;
  EXPECT_FALSE(empty.RemoveCurrent());
}

TEST_F(EditTest, ReplaceRecordThroughRememberedNode) {
  // The edit command keeps the old record, appends its replacement, then
  // goes back and removes the old one.
  Load("<xBase><vCard><FN>Old</FN><ID>7</ID></vCard><vCard><FN>Other</FN></vCard></xBase>");
  ASSERT_TRUE(dom_.SelectNode("xBase/vCard[ID='7']"));
  const TNodeRef old = dom_.CurrentNode();
  ASSERT_TRUE(dom_.SelectRoot());
  std::string errors;
  ASSERT_EQ(0, dom_.AppendFragment("<vCard><FN>New</FN><ID>7</ID></vCard>", errors));
  ASSERT_TRUE(dom_.AddChild("OWNER"));
  ASSERT_TRUE(dom_.SetText("ann"));
  dom_.SetCurrentNode(old);
  ASSERT_TRUE(dom_.RemoveCurrent());
  EXPECT_EQ("<xBase>\r\n  <vCard>\r\n    <FN>Other</FN>\r\n  </vCard>\r\n  <vCard>\r\n"
            "    <FN>New</FN>\r\n    <ID>7</ID>\r\n    <OWNER>ann</OWNER>\r\n  </vCard>\r\n"
            "</xBase>",
            Saved());
}

TEST_F(EditTest, EveryChangeMovesTheGeneration) {
  uint64_t seen = dom_.Generation();
  auto changed = [&] {
    const bool moved = dom_.Generation() != seen;
    seen = dom_.Generation();
    return moved;
  };
  ASSERT_TRUE(dom_.SelectNode("xBase/vCard"));
  dom_.GetText();
  dom_.SelectFirstChild();
  EXPECT_FALSE(changed()) << "queries and navigation change nothing";
  ASSERT_TRUE(dom_.SetText("x"));
  EXPECT_TRUE(changed());
  ASSERT_TRUE(dom_.AddSibling("ID"));
  EXPECT_TRUE(changed());
  std::string errors;
  ASSERT_TRUE(dom_.SelectRoot());
  dom_.AppendFragment("<vCard/>", errors);
  EXPECT_TRUE(changed());
  ASSERT_TRUE(dom_.RemoveCurrent());
  EXPECT_TRUE(changed());
  Load("<xBase/>");
  EXPECT_TRUE(changed());
}

}  // namespace
}  // namespace pelorin::testing
