// Hostile XML: entity bombs, external entities, runaway XPath, and library
// messages that must not reach stderr.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/xml/dom_fixture.h"
#include "xml/quickdom.h"

namespace pelorin::testing {
namespace {

class SafetyTest : public DomTest {
 protected:
  void SetUp() override { Load("<xBase><vCard><FN>Ann</FN></vCard></xBase>"); }
};

TEST_F(SafetyTest, EntityExpansionBombIsRefused) {
  std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
  std::string previous = "lol";
  for (int i = 1; i <= 9; ++i) {
    const std::string name = "lol" + std::to_string(i);
    bomb += "<!ENTITY " + name + " \"";
    for (int k = 0; k < 10; ++k) bomb += "&" + previous + ";";
    bomb += "\">";
    previous = name;
  }
  bomb += "]><vCard><FN>&" + previous + ";</FN></vCard>";
  ASSERT_TRUE(dom_.SelectRoot());
  std::string errors;
  EXPECT_THROW(dom_.AppendFragment(bomb, errors), std::runtime_error);
  EXPECT_NE(std::string::npos, errors.find("DOCTYPE")) << errors;
  EXPECT_FALSE(dom_.SelectNode("xBase/vCard[2]"));
}

TEST_F(SafetyTest, ExternalEntitiesAreNeverLoaded) {
  const std::string secret = dir_.File("secret.txt");
  WriteFile(secret, "top secret");
  const std::string fragments[] = {
      "<!DOCTYPE v [<!ENTITY x SYSTEM \"file://" + secret + "\">]><vCard><FN>&x;</FN></vCard>",
      "<!DOCTYPE v SYSTEM \"file://" + secret + "\"><vCard/>",
      "<vCard><FN>&x;</FN></vCard>",  // undeclared entity
  };
  for (const std::string& fragment : fragments) {
    ASSERT_TRUE(dom_.SelectRoot());
    std::string errors;
    EXPECT_THROW(dom_.AppendFragment(fragment, errors), std::runtime_error) << fragment;
    EXPECT_FALSE(errors.empty());
  }
  // Stores on disk are held to the same rule.
  TQuickDom store;
  EXPECT_EQ(-1, LoadInto(store, fragments[0]));
  EXPECT_EQ(std::string::npos, Saved().find("top secret"));
}

TEST_F(SafetyTest, RunawayXPathMatchesNothing) {
  std::string big = "<r>";
  for (int i = 0; i < 3000; ++i) big += "<a><b/></a>";
  big += "</r>";
  Load(big);
  ASSERT_TRUE(dom_.SelectNode("r/a[1]"));
  // Billions of steps unchecked; cut off by the operation limit instead.
  EXPECT_FALSE(dom_.SelectNode("//*[count(//*[count(//*) > 0]) > 0]"));
  EXPECT_TRUE(dom_.SelectSibling("a"));  // the cursor stayed on r/a[1]
  EXPECT_TRUE(dom_.SelectNode("r/a[last()]"));  // ordinary queries still work afterwards
}

TEST_F(SafetyTest, AxisMergesThatEscapeTheStepLimitAreCutOffByTheTimeBudget) {
  std::string big = "<r>";
  for (int i = 0; i < 3000; ++i) big += "<a><b/></a>";
  big += "</r>";
  Load(big);
  ASSERT_TRUE(dom_.SelectNode("r/a[1]"));
  // Few counted steps, but merging the following:: sets of 9,000 nodes costs
  // minutes; if it ran to its end, every element would match.
  EXPECT_FALSE(dom_.SelectNode("//*[count(//*/following::*) >= 0]"));
  EXPECT_TRUE(dom_.SelectSibling("a"));
  EXPECT_TRUE(dom_.SelectNode("r/a[last()]"));  // the next query gets a full budget
}

TEST_F(SafetyTest, LibraryMessagesDoNotReachStderr) {
  ::testing::internal::CaptureStderr();
  TQuickDom dom;
  EXPECT_EQ(-1, LoadInto(dom, "<r><a></r>"));
  EXPECT_FALSE(dom_.SelectNode("xBase/vCard[["));
  std::string errors;
  ASSERT_TRUE(dom_.SelectRoot());
  EXPECT_THROW(dom_.AppendFragment("<a>", errors), std::runtime_error);
  EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
}

}  // namespace
}  // namespace pelorin::testing
