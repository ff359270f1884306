// Record ID arithmetic at fixed instants, the real clock's form, and the ID index
// that replaces the scan of every card.
#include <time.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/xml/dom_fixture.h"
#include "service/record_ids.h"

namespace pelorin::testing {
namespace {

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t kUnit = 86400;  // nanoseconds per ID unit
constexpr std::int64_t kDay = 86400 * kSecond;

TEST(RecordIdTest, DaysTimesTenToTheNinthRoundedHalfToEven) {
  const struct {
    std::int64_t nanoseconds;
    const char* id;
  } cases[] = {
      {36892 * kDay + 12 * 3600 * kSecond, "36892500000000"},  // 1 January 2001 12:00
      {36892 * kDay, "36892000000000"},
      {0, "0"},
      {kUnit / 2 - 1, "0"},
      {kUnit / 2, "0"},                  // half, 0 is even
      {kUnit + kUnit / 2, "2"},          // half, 1 is odd
      {2 * kUnit + kUnit / 2, "2"},
      {2 * kUnit + kUnit / 2 + 1, "3"},
      {kSecond / 1000, "12"},            // one millisecond is 11.57 units
      {25569 * kDay, "25569000000000"},  // 1 January 1970
      {-1, "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.id, RecordIdFromLocalNanoseconds(c.nanoseconds)) << c.nanoseconds;
}

TEST(RecordIdTest, RealClockIsLocalTimeSince1899) {
  const time_t now = ::time(nullptr);
  tm local{};
  ::localtime_r(&now, &local);
  const std::int64_t expected = (static_cast<std::int64_t>(now) + local.tm_gmtoff + 25569LL * 86400) * kSecond;
  const std::int64_t read = LocalNanosecondsSince1899();
  EXPECT_LT(std::abs(read - expected), 5 * kSecond);
}

TEST(RecordIdTest, SubMillisecondReadingsGiveDistinctIds) {
  std::vector<std::int64_t> readings;
  for (int i = 0; i < 3; ++i) readings.push_back(36892 * kDay + i * 2 * kUnit);  // 172.8 microseconds apart
  EXPECT_NE(RecordIdFromLocalNanoseconds(readings[0]), RecordIdFromLocalNanoseconds(readings[1]));
  EXPECT_NE(RecordIdFromLocalNanoseconds(readings[1]), RecordIdFromLocalNanoseconds(readings[2]));
}

class RecordIdIndexTest : public DomTest {};

TEST_F(RecordIdIndexTest, CountsTheFirstIdOfCardsBelowTheDocumentElementOnly) {
  Load("<xBase>"
       "<vCard><FN>a</FN><ID>10</ID><ID>11</ID></vCard>"
       "<User><ID>20</ID></User>"
       "<group><vCard><ID>30</ID></vCard></group>"
       "<vCard><FN>no id</FN></vCard>"
       "<vCard><ID>40</ID></vCard>"
       "</xBase>");
  TRecordIdIndex index;
  index.Refresh(dom_);
  EXPECT_TRUE(index.Contains("10"));
  EXPECT_TRUE(index.Contains("40"));
  for (const char* id : {"11", "20", "30", ""}) EXPECT_FALSE(index.Contains(id)) << id;
}

TEST_F(RecordIdIndexTest, RebuildsAfterAChangeItWasNotToldAbout) {
  Load("<xBase><vCard><ID>1</ID></vCard></xBase>");
  TRecordIdIndex index;
  index.Refresh(dom_);
  ASSERT_TRUE(index.Current(dom_));
  ASSERT_TRUE(dom_.SelectNode("/xBase/vCard/ID"));
  dom_.SetText("2");
  EXPECT_FALSE(index.Current(dom_));
  index.Refresh(dom_);
  EXPECT_FALSE(index.Contains("1"));
  EXPECT_TRUE(index.Contains("2"));
}

TEST_F(RecordIdIndexTest, SharedIdsStayUntilTheLastCardGoes) {
  Load("<xBase><vCard><ID>7</ID></vCard><vCard><ID>7</ID></vCard></xBase>");
  TRecordIdIndex index;
  index.Refresh(dom_);
  index.Remove("7");
  EXPECT_TRUE(index.Contains("7"));
  index.Remove("7");
  EXPECT_FALSE(index.Contains("7"));
}

TEST_F(RecordIdIndexTest, NewIdWaitsForAFreeUnitAndKeepsTheCursor) {
  Load("<xBase><vCard><ID>36892500000000</ID></vCard><vCard><ID>36892500000001</ID></vCard></xBase>");
  ASSERT_TRUE(dom_.SelectNode("/xBase/vCard[2]"));
  const TNodeRef cursor = dom_.CurrentNode();
  TRecordIdIndex index;
  int readings = 0;
  const TLocalClock clock = [&readings] { return 36892 * kDay + 12 * 3600 * kSecond + readings++ * kUnit; };
  EXPECT_EQ("36892500000002", NewRecordIdFor(dom_, index, clock));
  EXPECT_EQ(3, readings);
  EXPECT_TRUE(dom_.CurrentNode() == cursor);
}

TEST_F(RecordIdIndexTest, IsCardRecordByNameAndPlace) {
  Load("<xBase><vCard><vCard/></vCard><VCARD/></xBase>");
  ASSERT_TRUE(dom_.SelectNode("/xBase/vCard"));
  EXPECT_TRUE(IsCardRecord(dom_));
  ASSERT_TRUE(dom_.SelectNode("/xBase/vCard/vCard"));
  EXPECT_FALSE(IsCardRecord(dom_));
  ASSERT_TRUE(dom_.SelectNode("/xBase/VCARD"));
  EXPECT_FALSE(IsCardRecord(dom_));
  ASSERT_TRUE(dom_.SelectRoot());
  EXPECT_FALSE(IsCardRecord(dom_));
}

}  // namespace
}  // namespace pelorin::testing
