// The plain record tree: comparison, lookup and the printer of failed tests.
#include "vcard/vcard_record.h"

#include <gtest/gtest.h>

#include <sstream>

namespace pelorin {
namespace {

TRecordElement Tel() {
  return {"TEL", "", {{"NUMBER", "+1 555", {}}, {"CELL", "", {}}, {"VOICE", "", {}}}};
}

TEST(RecordElementTest, EqualOnlyWhenNameTextAndChildrenInOrderAgree) {
  EXPECT_EQ(Tel(), Tel());
  TRecordElement other_text = Tel();
  other_text.Children[0].Text = "+1 556";
  EXPECT_NE(Tel(), other_text);
  TRecordElement other_order = Tel();
  std::swap(other_order.Children[1], other_order.Children[2]);
  EXPECT_NE(Tel(), other_order);
  TRecordElement fewer = Tel();
  fewer.Children.pop_back();
  EXPECT_NE(Tel(), fewer);
  TRecordElement renamed = Tel();
  renamed.Children[1].Name = "HOME";
  EXPECT_NE(Tel(), renamed);
}

TEST(RecordElementTest, FindChildTakesTheFirstOfItsName) {
  const TRecordElement org{"ORG", "", {{"ORGUNIT", "a", {}}, {"ORGUNIT", "b", {}}}};
  ASSERT_NE(nullptr, FindChild(org, "ORGUNIT"));
  EXPECT_EQ("a", FindChild(org, "ORGUNIT")->Text);
  EXPECT_EQ(nullptr, FindChild(org, "ORGNAME"));
  EXPECT_EQ("a", ChildText(org, "ORGUNIT"));
  EXPECT_EQ("", ChildText(org, "ORGNAME"));
}

TEST(RecordElementTest, PrinterIndentsByDepthAndShowsControlBytes) {
  const TRecordElement card{"vCard", "", {Tel(), {"NOTE", "a\r\n\t\"b\"\\\x01", {}}}};
  std::ostringstream os;
  os << card;
  EXPECT_EQ("\nvCard"
            "\n  TEL"
            "\n    NUMBER \"+1 555\""
            "\n    CELL"
            "\n    VOICE"
            "\n  NOTE \"a\\r\\n\\t\\\"b\\\"\\\\\\x01\"",
            os.str());
}

}  // namespace
}  // namespace pelorin
