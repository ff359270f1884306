// Queries and navigation of TQuickDom: where the cursor goes, and where it
// stays when an operation fails.
#include <gtest/gtest.h>

#include "tests/xml/dom_fixture.h"
#include "xml/quickdom.h"

namespace pelorin::testing {
namespace {

constexpr char kCards[] =
    "<?xml version=\"1.0\"?><!--cards--><?pi data?>"
    "<xBase><vCard><FN>Ann</FN><ID>1</ID></vCard>"
    "<Other/>"
    "<vCard><FN>Bob</FN><ID>2</ID></vCard>"
    "<vCard><FN>Cid</FN><ID>3</ID></vCard></xBase>";

class CursorTest : public DomTest {
 protected:
  void SetUp() override { Load(kCards); }
  std::string CurrentFn() {
    TNodeRef keep = dom_.CurrentNode();
    dom_.SelectFirstChild();
    std::string text = dom_.GetSiblingText("FN");
    dom_.SetCurrentNode(keep);
    return text;
  }
};

TEST_F(CursorTest, SelectNodeFindsFirstMatchInDocumentOrder) {
  EXPECT_TRUE(dom_.SelectNode("xBase/vCard"));
  EXPECT_EQ("Ann", CurrentFn());
  EXPECT_TRUE(dom_.SelectNode("xBase/vCard[FN='Cid'] | xBase/vCard[FN='Bob']"));
  EXPECT_EQ("Bob", CurrentFn());  // a union is still taken in document order
}

TEST_F(CursorTest, FailedSelectNodeLeavesCursor) {
  ASSERT_TRUE(dom_.SelectNode("xBase/vCard[FN='Bob']"));
  for (const char* xpath : {"xBase/vCard[FN='Zed']", "", "xBase/vCard[", "xBase/@x", "/",
                            "count(xBase/vCard)", "xBase/vCard[1]/FN/@missing"}) {
    EXPECT_FALSE(dom_.SelectNode(xpath)) << xpath;
    EXPECT_EQ("Bob", CurrentFn()) << xpath;
  }
}

TEST_F(CursorTest, SelectNextNodeWalksAllMatchesThenStops) {
  ASSERT_TRUE(dom_.SelectNode("xBase/vCard"));
  ASSERT_TRUE(dom_.SelectNextNode("xBase/vCard"));
  EXPECT_EQ("Bob", CurrentFn());
  ASSERT_TRUE(dom_.SelectNextNode("xBase/vCard"));
  EXPECT_EQ("Cid", CurrentFn());
  EXPECT_FALSE(dom_.SelectNextNode("xBase/vCard"));
  EXPECT_EQ("Cid", CurrentFn());  // on the last match nothing moves
}

TEST_F(CursorTest, SelectNextNodeRestartsWhenCursorIsNoMatch) {
  ASSERT_TRUE(dom_.SelectNode("xBase/Other"));
  EXPECT_TRUE(dom_.SelectNextNode("xBase/vCard"));
  EXPECT_EQ("Ann", CurrentFn());
  TQuickDom fresh;  // no current node at all
  ASSERT_EQ(0, LoadInto(fresh, kCards));
  EXPECT_TRUE(fresh.SelectNextNode("xBase/vCard"));
  EXPECT_FALSE(fresh.SelectNextNode("xBase/Nothing"));
}

TEST_F(CursorTest, SelectNextNodeSeesChangesMadeDuringTheWalk) {
  ASSERT_TRUE(dom_.SelectNode("xBase/vCard"));
  ASSERT_TRUE(dom_.SelectNextNode("xBase/vCard"));  // on Bob
  TNodeRef bob = dom_.CurrentNode();
  ASSERT_TRUE(dom_.SelectRoot());
  ASSERT_TRUE(dom_.AddChild("vCard"));  // a fourth card at the end
  dom_.SetCurrentNode(bob);
  ASSERT_TRUE(dom_.SelectNextNode("xBase/vCard"));
  EXPECT_EQ("Cid", CurrentFn());
  ASSERT_TRUE(dom_.SelectNextNode("xBase/vCard"));
  EXPECT_EQ("", CurrentFn());  // the new, empty card
  EXPECT_FALSE(dom_.SelectNextNode("xBase/vCard"));
}

TEST_F(CursorTest, DeleteLoopRemovesEveryMatch) {
  int removed = 0;
  while (dom_.SelectNode("xBase/vCard[ID>1]")) {
    ASSERT_TRUE(dom_.RemoveCurrent());
    ++removed;
  }
  EXPECT_EQ(2, removed);
  EXPECT_TRUE(dom_.SelectNode("xBase/vCard"));
  EXPECT_FALSE(dom_.SelectNextNode("xBase/vCard"));
}

TEST_F(CursorTest, SelectRootPassesOverDeclarationCommentAndPi) {
  ASSERT_TRUE(dom_.SelectRoot());
  EXPECT_TRUE(dom_.SelectSibling("xBase"));
  EXPECT_FALSE(dom_.SelectParent());  // never up to the document node
  TQuickDom empty;
  EXPECT_FALSE(empty.SelectRoot());
  EXPECT_FALSE(empty.CurrentNode());
}

TEST_F(CursorTest, SelectFirstChildPrefersElements) {
  Load("<r><a>text<b/>more</a><t>only text</t><e/></r>");
  ASSERT_TRUE(dom_.SelectNode("r/a"));
  ASSERT_TRUE(dom_.SelectFirstChild());
  EXPECT_TRUE(dom_.SelectSibling("b"));  // the element, though text came first
  ASSERT_TRUE(dom_.SelectNode("r/t"));
  ASSERT_TRUE(dom_.SelectFirstChild());  // only text: the text node becomes current
  EXPECT_EQ("", dom_.GetText());
  EXPECT_TRUE(dom_.SelectParent());
  EXPECT_EQ("only text", dom_.GetText());
  ASSERT_TRUE(dom_.SelectNode("r/e"));
  EXPECT_FALSE(dom_.SelectFirstChild());
  EXPECT_TRUE(dom_.SelectSibling("e"));  // still on e
}

TEST_F(CursorTest, SelectSiblingSearchesFromFirstIncludingCurrent) {
  Load("<r>lead<a>1</a><b>2</b><a>3</a></r>");
  ASSERT_TRUE(dom_.SelectNode("r/b"));
  EXPECT_TRUE(dom_.SelectSibling(""));  // first element, not the leading text
  EXPECT_EQ("1", dom_.GetText());
  EXPECT_TRUE(dom_.SelectSibling("a"));  // itself: it is the first a
  EXPECT_EQ("1", dom_.GetText());
  EXPECT_FALSE(dom_.SelectSibling("c"));
  EXPECT_EQ("1", dom_.GetText());
  EXPECT_TRUE(dom_.SelectSibling("#text"));
}

TEST_F(CursorTest, SelectNextSiblingRules) {
  Load("<r><x/><vCard>1</vCard><y/><vCard>2</vCard></r>");
  ASSERT_TRUE(dom_.SelectNode("r/vCard[2]"));
  EXPECT_FALSE(dom_.SelectNextSibling("vCard"));  // last vCard: false, unchanged
  EXPECT_EQ("2", dom_.GetText());
  ASSERT_TRUE(dom_.SelectNode("r/y"));
  EXPECT_TRUE(dom_.SelectNextSibling("vCard"));  // other name: the first vCard of all
  EXPECT_EQ("1", dom_.GetText());
  EXPECT_TRUE(dom_.SelectNextSibling("vCard"));  // same name: the next one after it
  EXPECT_EQ("2", dom_.GetText());
  EXPECT_FALSE(dom_.SelectNextSibling(""));  // no element after the last one
  ASSERT_TRUE(dom_.SelectNode("r/x"));
  EXPECT_TRUE(dom_.SelectNextSibling(""));  // empty name: the next element
  EXPECT_EQ("1", dom_.GetText());
}

TEST_F(CursorTest, GetTextTakesDirectTextChildrenOnly) {
  Load("<r><a>x<b>y</b>z<!--c--><![CDATA[w]]></a></r>");
  ASSERT_TRUE(dom_.SelectNode("r/a"));
  EXPECT_EQ("xz", dom_.GetText());
  ASSERT_TRUE(dom_.SelectNode("r/a/b"));
  EXPECT_EQ("", dom_.GetSiblingText("missing"));
  EXPECT_EQ("y", dom_.GetText());  // the failed lookup did not move the cursor
}

TEST_F(CursorTest, GetIntegerStatuses) {
  Load("<r><e/><w>abc</w><n>9555</n><m>-12</m><p> 80 </p><big>4294967296</big><f>1.5</f>"
       "<s>+7</s><ss>+-7</ss></r>");
  const struct {
    const char* xpath;
    int status;
    int32_t value;
  } cases[] = {
      {"r/e", kIntegerEmpty, 0},   {"r/w", kIntegerInvalid, 0},   {"r/n", kIntegerOk, 9555},
      {"r/m", kIntegerOk, -12},    {"r/p", kIntegerOk, 80},       {"r/big", kIntegerInvalid, 0},
      {"r/f", kIntegerInvalid, 0}, {"r/s", kIntegerOk, 7},        {"r/ss", kIntegerInvalid, 0},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(dom_.SelectNode(c.xpath)) << c.xpath;
    int status = 99;
    EXPECT_EQ(c.value, dom_.GetInteger(status)) << c.xpath;
    EXPECT_EQ(c.status, status) << c.xpath;
  }
  TQuickDom empty;
  int status = 99;
  EXPECT_EQ(0, empty.GetInteger(status));
  EXPECT_EQ(kIntegerNoNode, status);
}

}  // namespace
}  // namespace pelorin::testing
