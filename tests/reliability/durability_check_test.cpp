// The checks of the durability suite must fail where the store is wrong: a torn or
// doubled file, a lost answered change, a file whose clients' cards come from
// different moments. Fixed histories with made-up times, no server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/reliability/durability_model.h"
#include "tests/reliability/durability_store_file.h"

namespace pelorin::testing {
namespace {

using std::chrono::milliseconds;

TMoment At(int ms) { return TMoment{} + std::chrono::hours(1) + milliseconds(ms); }

TCardSet Cards(std::initializer_list<std::pair<const std::string, TCard>> cards) {
  return TCardSet(cards);
}

// Client 0 edits a, inserts b, edits b, deletes a, and is cut off editing b again;
// client 1 inserts c, edits it, and inserts d without learning d's ID.
struct TScenario {
  std::vector<THistory> Clients;
  std::vector<TCardSet> Zero, One;  // each client's states, by change

  TScenario() {
    Zero.push_back(Cards({{"c0k0x", {"v0", "11"}}}));
    Zero.push_back(Cards({{"c0k0x", {"v1", "11"}}}));
    Zero.push_back(Cards({{"c0k0x", {"v1", "11"}}, {"c0k1x", {"v0", "12"}}}));
    Zero.push_back(Cards({{"c0k0x", {"v1", "11"}}, {"c0k1x", {"v1", "12"}}}));
    Zero.push_back(Cards({{"c0k1x", {"v1", "12"}}}));
    Zero.push_back(Cards({{"c0k1x", {"v2", "12"}}}));
    One.push_back({});
    One.push_back(Cards({{"c1k0x", {"v0", "21"}}}));
    One.push_back(Cards({{"c1k0x", {"v1", "21"}}}));
    One.push_back(Cards({{"c1k0x", {"v1", "21"}}, {"c1k1x", {"v0", ""}}}));
    THistory zero(Zero[0]);
    const int zero_times[][2] = {{10, 20}, {30, 40}, {50, 60}, {70, 80}, {90, -1}};
    for (std::size_t i = 1; i < Zero.size(); ++i) {
      zero.Record(Zero[i], At(zero_times[i - 1][0]));
      if (zero_times[i - 1][1] >= 0) zero.Acknowledge(i, At(zero_times[i - 1][1]));
    }
    THistory one(One[0]);
    const int one_times[][2] = {{15, 25}, {45, 55}, {85, 95}};
    for (std::size_t i = 1; i < One.size(); ++i) {
      one.Record(One[i], At(one_times[i - 1][0]));
      one.Acknowledge(i, At(one_times[i - 1][1]));
    }
    Clients = {zero, one};
  }
};

struct TMomentCase {
  const char* Name;
  int ZeroState;  // -1: the cards below instead
  int OneState;
  TCardSet ZeroCards;
  int NotBefore;  // ms; -1: open
  int NotAfter;
  bool EveryAnswered;
  bool Consistent;
  std::vector<std::size_t> Cut;
  const char* FailureText;
};

TEST(SnapshotMomentTest, FileMustStandForOneRecentMomentOfEveryClient) {
  const TMomentCase cases[] = {
      {"latest, with the change in flight", 5, 3, {}, 0, 100, false, true, {5, 3}, ""},
      {"latest, without the change in flight", 4, 3, {}, 0, 100, false, true, {4, 3}, ""},
      {"the start, while it is recent enough", 0, 0, {}, -1, 100, false, true, {0, 0}, ""},
      {"the start, long after the first answers", 0, 0, {}, 50, 100, false, false, {}, "too old"},
      {"the start names the lost change",
       0,
       0,
       {},
       50,
       100,
       false,
       false,
       {},
       "client 0 lost change 1"},
      {"clients from different moments", 4, 1, {}, 0, 100, false, false, {}, "no single moment"},
      {"a version never sent",
       -1,
       3,
       Cards({{"c0k1x", {"v7", "12"}}}),
       0,
       100,
       false,
       false,
       {},
       "match none"},
      {"a card with another ID",
       -1,
       3,
       Cards({{"c0k1x", {"v1", "99"}}}),
       0,
       100,
       false,
       false,
       {},
       "with ID 99"},
      {"before the delete, the other client then too", 3, 2, {}, 0, 100, false, true, {3, 2}, ""},
      {"before the delete, the other client later",
       3,
       3,
       {},
       0,
       100,
       false,
       false,
       {},
       "no single moment"},
      {"a clean stop keeps every answer", 4, 3, {}, 96, 100, true, true, {4, 3}, ""},
      {"a clean stop lost an answer",
       3,
       3,
       {},
       96,
       100,
       true,
       false,
       {},
       "answered before the stop"},
      {"a clean stop may keep the change in flight", 5, 3, {}, 96, 100, true, true, {5, 3}, ""},
  };
  const TScenario scenario;
  for (const TMomentCase& test : cases) {
    SCOPED_TRACE(test.Name);
    std::vector<TCardSet> on_disk = {
        test.ZeroState >= 0 ? scenario.Zero[test.ZeroState] : test.ZeroCards,
        scenario.One[test.OneState]};
    if (test.OneState == 3) on_disk[1]["c1k1x"].Id = "777";  // given by the server, never learned
    TSnapshotBounds bounds;
    if (test.NotBefore >= 0) bounds.NotBefore = At(test.NotBefore);
    bounds.NotAfter = At(test.NotAfter);
    bounds.EveryAnsweredChange = test.EveryAnswered;
    const TSnapshotVerdict verdict = FindSnapshotMoment(scenario.Clients, on_disk, bounds);
    EXPECT_EQ(test.Consistent, verdict.Consistent) << verdict.Failure;
    if (test.Consistent) {
      EXPECT_EQ(test.Cut, verdict.Cut);
    } else {
      EXPECT_NE(std::string::npos, verdict.Failure.find(test.FailureText)) << verdict.Failure;
    }
  }
}

TEST(SnapshotMomentTest, CountsAndAgeOfAConsistentFile) {
  const TScenario scenario;
  TSnapshotBounds bounds;
  bounds.NotAfter = At(100);
  const TSnapshotVerdict latest =
      FindSnapshotMoment(scenario.Clients, {scenario.Zero[5], scenario.One[3]}, bounds);
  ASSERT_TRUE(latest.Consistent) << latest.Failure;
  EXPECT_EQ(7u, latest.Answered);
  EXPECT_EQ(7u, latest.AnsweredOnDisk);
  EXPECT_EQ(1u, latest.UnansweredOnDisk);
  EXPECT_EQ(TSteadyClock::duration{}, latest.Age);

  // The start state holds until client 0's first answer at 20 ms.
  const TSnapshotVerdict start =
      FindSnapshotMoment(scenario.Clients, {scenario.Zero[0], scenario.One[0]}, bounds);
  ASSERT_TRUE(start.Consistent) << start.Failure;
  EXPECT_EQ(0u, start.AnsweredOnDisk);
  EXPECT_EQ(milliseconds(80), std::chrono::round<milliseconds>(start.Age));

  const TSnapshotVerdict short_read =
      FindSnapshotMoment(scenario.Clients, {scenario.Zero[5]}, bounds);
  EXPECT_FALSE(short_read.Consistent);
}

TEST(SnapshotMomentTest, InsertThenDeleteMayStandForEitherMoment) {
  THistory history(Cards({{"c0k0x", {"v0", "1"}}}));
  history.Record(Cards({{"c0k0x", {"v0", "1"}}, {"c0k1x", {"v0", "2"}}}), At(10));
  history.Acknowledge(1, At(20));
  history.Record(Cards({{"c0k0x", {"v0", "1"}}}), At(30));
  history.Acknowledge(2, At(40));
  TSnapshotBounds late;
  late.NotBefore = At(25);
  late.NotAfter = At(100);
  const TSnapshotVerdict verdict =
      FindSnapshotMoment({history}, {Cards({{"c0k0x", {"v0", "1"}}})}, late);
  ASSERT_TRUE(verdict.Consistent) << verdict.Failure;
  EXPECT_EQ(std::vector<std::size_t>{2}, verdict.Cut);
  // Between the insert's answer and the delete's sending only the inserted card will do.
  late.NotBefore = At(21);
  late.NotAfter = At(29);
  EXPECT_FALSE(FindSnapshotMoment({history}, {Cards({{"c0k0x", {"v0", "1"}}})}, late).Consistent);
}

TEST(CardKeyTest, OnlyTheKeysOfTheRun) {
  const struct {
    const char* Text;
    bool Valid;
    std::size_t Client;
    std::uint64_t Serial;
  } cases[] = {
      {"c3k7x", true, 3, 7},   {"c12k305x", true, 12, 305}, {"c3k7", false, 0, 0},
      {"c3kx", false, 0, 0},   {"ck7x", false, 0, 0},       {"c3k7xx", false, 0, 0},
      {"d3k7x", false, 0, 0},  {"c3q7x", false, 0, 0},      {"", false, 0, 0},
      {"c-3k7x", false, 0, 0},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.Text);
    const auto parsed = ParseCardKey(test.Text);
    ASSERT_EQ(test.Valid, parsed.has_value());
    if (parsed) {
      EXPECT_EQ(test.Client, parsed->first);
      EXPECT_EQ(test.Serial, parsed->second);
    }
  }
  EXPECT_EQ("c3k7x", CardKey(3, 7));
  const auto round_trip = ParseCardKey(CardKey(4, 9));
  ASSERT_TRUE(round_trip.has_value());
  EXPECT_EQ(9u, round_trip->second);
}

constexpr char kHead[] = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase>";

std::string Card(const std::string& inner) { return "\r\n  <vCard>" + inner + "</vCard>"; }
std::string Whole(const std::string& fn, const std::string& note, const std::string& owner,
                  const std::string& id) {
  return Card("<FN>" + fn + "</FN><NOTE>" + note + "</NOTE><OWNER>" + owner + "</OWNER><ID>" + id +
              "</ID>");
}

TEST(CardStoreFileTest, OnlyASoundStorePasses) {
  const std::string a = Whole("c0k0x", "v1", "u0", "11");
  const std::string b = Whole("c1k4x", "v0", "u1", "12");
  const struct {
    const char* Name;
    std::string Text;
    bool Parsed;
    const char* Fault;  // "" when sound
  } cases[] = {
      {"sound, with the mark and CR LF", kHead + a + b + "\r\n</xBase>", true, ""},
      {"no cards", std::string(kHead) + "</xBase>", true, ""},
      {"torn in a card", (kHead + a + b).substr(0, std::string(kHead).size() + a.size() + 20),
       false, "not well-formed"},
      {"torn after the last card", kHead + a + b, false, "not well-formed"},
      {"empty", "", false, "not well-formed"},
      {"another document element", "<xUser>" + a + "</xUser>", true, "not xBase"},
      {"the same ID twice", kHead + a + Whole("c1k5x", "v0", "u1", "11") + "</xBase>", true,
       "ID 11 is there twice"},
      {"the same card twice", kHead + a + a + "</xBase>", true, "c0k0x is there twice"},
      {"a card without ID",
       kHead + Card("<FN>c0k0x</FN><NOTE>v1</NOTE><OWNER>u0</OWNER>") + "</xBase>", true,
       "has 0 ID"},
      {"a card with two owners",
       kHead + Card("<FN>c0k0x</FN><NOTE>v1</NOTE><OWNER>u0</OWNER><OWNER>u0</OWNER><ID>1</ID>") +
           "</xBase>",
       true, "has 2 OWNER"},
      {"a card with a stray element",
       kHead + Card("<FN>c0k0x</FN><NOTE>v1</NOTE><OWNER>u0</OWNER><ID>1</ID><TEL/>") + "</xBase>",
       true, "an element TEL"},
      {"a field holding elements",
       kHead + Card("<FN>c0k0x</FN><NOTE><B>v1</B></NOTE><OWNER>u0</OWNER><ID>1</ID>") + "</xBase>",
       true, "not plain text"},
      {"another client's owner", kHead + Whole("c0k0x", "v1", "u1", "11") + "</xBase>", true,
       "belongs to u1"},
      {"a client beyond the run", kHead + Whole("c2k0x", "v1", "u2", "11") + "</xBase>", true,
       "unknown key"},
      {"a version without its v", kHead + Whole("c0k0x", "1", "u0", "11") + "</xBase>", true,
       "the version 1"},
      {"an ID that is no number", kHead + Whole("c0k0x", "v1", "u0", "1a") + "</xBase>", true,
       "the ID 1a"},
      {"text beside the cards", kHead + a + "stray</xBase>", true, "other than a vCard"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.Name);
    const TStoreReading reading = ParseCardStore(test.Text, 2);
    EXPECT_EQ(test.Parsed, reading.Parsed);
    if (*test.Fault == '\0') {
      EXPECT_TRUE(reading.Faults.empty()) << reading.Faults.front();
    } else {
      ASSERT_FALSE(reading.Faults.empty());
      EXPECT_NE(std::string::npos, reading.Faults.front().find(test.Fault))
          << reading.Faults.front();
    }
  }
}

TEST(CardStoreFileTest, WrittenStoreReadsBackCardForCard) {
  const std::vector<TCardSet> cards = {Cards({{"c0k0x", {"v3", "101"}}, {"c0k2x", {"v0", "102"}}}),
                                       {},
                                       Cards({{"c2k9x", {"v12", "301"}}})};
  const TStoreReading reading = ParseCardStore(CardStoreText(cards), 3);
  ASSERT_TRUE(reading.Faults.empty()) << reading.Faults.front();
  EXPECT_EQ(cards, reading.ByClient);
}

}  // namespace
}  // namespace pelorin::testing
