// The card index under the store's operations: one owner's cards in store
// order, versions that move exactly when a card changes, and a rebuild after a
// change the index was not told about. The last test runs a random mix of
// operations and compares the index with a search of the whole store.
#include "service/card_index.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/record_store.h"
#include "tests/temp_dir.h"

namespace pelorin::testing {
namespace {

class CardIndexTest : public ::testing::Test {
 protected:
  void Load(const std::string& xml) {
    const std::string path = dir_.File("base.xml");
    WriteFile(path, xml);
    ASSERT_EQ(0, store_.LoadFromFile(path));
  }

  std::vector<TCardRef> Refs(const std::string& owner) {
    std::size_t added = 0;
    std::vector<TCardRef> refs = store_.OwnCardRefsWithUids(owner, "", added);
    EXPECT_EQ(0u, added) << "every test card carries a UID";
    return refs;
  }

  // The FN of each of the owner's cards, in the order the index gives them.
  std::vector<std::string> Names(const std::string& owner) {
    std::vector<std::string> names;
    for (const TCardRef& ref : Refs(owner)) {
      const std::optional<TRecordElement> tree = store_.CardTree(ref.Node);
      names.emplace_back(tree ? ChildText(*tree, "FN") : "?");
    }
    return names;
  }

  // The same list as a search of the whole store finds it.
  std::vector<std::string> SearchedNames(const std::string& owner) {
    std::vector<std::string> names;
    TQuickDom& dom = store_.Dom();
    const std::string xpath = "/*/vCard[OWNER=\"" + owner + "\"]/FN";
    for (bool found = dom.SelectNode(xpath); found; found = dom.SelectNextNode(xpath)) names.push_back(dom.GetText());
    return names;
  }

  static std::string Card(const std::string& name, const std::string& id = "") {
    return "<vCard><FN>" + name + "</FN><UID>u-" + name + "</UID>" + (id.empty() ? "" : "<ID>" + id + "</ID>") +
           "</vCard>";
  }

  TTempDir dir_;
  TRecordStore store_{TStoreKind::Cards, "/pelorin/base.xml"};
};

TEST_F(CardIndexTest, ListsOneOwnersCardsInStoreOrder) {
  Load("<xBase>"
       "<vCard><FN>a1</FN><UID>1</UID><OWNER>ann</OWNER><ID>1</ID></vCard>"
       "<vCard><FN>b1</FN><UID>2</UID><OWNER>bob</OWNER><ID>2</ID></vCard>"
       "<Note><FN>not a card</FN><UID>3</UID><OWNER>ann</OWNER></Note>"
       "<group><vCard><FN>nested</FN><UID>4</UID><OWNER>ann</OWNER></vCard></group>"
       "<vCard><FN>both</FN><UID>5</UID><OWNER>ann</OWNER><OWNER>bob</OWNER><OWNER>ann</OWNER><ID>5</ID></vCard>"
       "<vCard><FN>a2</FN><UID>6</UID><OWNER>ann</OWNER><ID>6</ID></vCard>"
       "</xBase>");
  EXPECT_EQ((std::vector<std::string>{"a1", "both", "a2"}), Names("ann"));
  EXPECT_EQ((std::vector<std::string>{"b1", "both"}), Names("bob"));
  EXPECT_TRUE(Names("carl").empty());
  EXPECT_TRUE(Names("ANN").empty()) << "owners are stored lower-cased and matched exactly";
}

TEST_F(CardIndexTest, VersionsMoveExactlyWhenACardChanges) {
  Load("<xBase/>");
  ASSERT_TRUE(store_.InsertRecord(Card("a1"), "ann"));
  ASSERT_TRUE(store_.InsertRecord(Card("a2"), "ann"));
  ASSERT_TRUE(store_.InsertRecord(Card("b1"), "bob"));
  const std::vector<TCardRef> before = Refs("ann");
  ASSERT_EQ(2u, before.size());
  const std::uint64_t bob_before = Refs("bob").at(0).Version;

  // Another user's insert leaves ann's cards as they were.
  ASSERT_TRUE(store_.InsertRecord(Card("b2"), "bob"));
  EXPECT_EQ(before[0].Version, Refs("ann")[0].Version);
  EXPECT_EQ(before[1].Version, Refs("ann")[1].Version);

  // An edit of a1 gives it a new version and moves it to the end, as the
  // store appends the replacement; a2 keeps its version.
  const std::string a1_id = [&] {
    const std::optional<TRecordElement> tree = store_.CardTree(before[0].Node);
    return std::string(ChildText(*tree, "ID"));
  }();
  ASSERT_EQ(1u, store_.ReplaceRecord("/*/vCard[ID='" + a1_id + "']", Card("a1 edited", a1_id), "ann").Changed);
  const std::vector<TCardRef> after = Refs("ann");
  ASSERT_EQ(2u, after.size());
  EXPECT_EQ(before[1].Version, after[0].Version);
  EXPECT_NE(before[0].Version, after[1].Version);
  EXPECT_EQ((std::vector<std::string>{"a2", "a1 edited"}), Names("ann"));

  // Bob cannot edit or delete ann's card, and such an attempt changes no version.
  EXPECT_EQ(0u, store_.DeleteSelected("/*/vCard[ID='" + a1_id + "']", "bob").Changed);
  EXPECT_EQ(after[1].Version, Refs("ann")[1].Version);

  ASSERT_EQ(1u, store_.DeleteSelected("/*/vCard[ID='" + a1_id + "']", "ann").Changed);
  EXPECT_EQ((std::vector<std::string>{"a2"}), Names("ann"));
  EXPECT_EQ(after[0].Version, Refs("ann")[0].Version);
  EXPECT_EQ(bob_before, Refs("bob")[0].Version);
}

TEST_F(CardIndexTest, AnUploadAddsTheCardsItAccepts) {
  Load("<xBase/>");
  ASSERT_TRUE(store_.InsertRecord(Card("first"), "ann"));
  const std::uint64_t first = Refs("ann").at(0).Version;
  ASSERT_EQ(2u, store_.InsertUpload("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:up1\r\nUID:x1\r\nEND:VCARD\r\n"
                                    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:up2\r\nUID:x2\r\nEND:VCARD\r\n",
                                    "ann")
                    .Changed);
  EXPECT_EQ((std::vector<std::string>{"first", "up1", "up2"}), Names("ann"));

  // The first card is refused and passed over; the index hears of the second.
  store_.UploadCardSeam = [n = 0](std::string& xml) mutable {
    if (++n == 1) xml = "<vCard><broken></vCard>";
  };
  const TRecordOutcome partly = store_.InsertUpload("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:up3\r\nUID:x3\r\nEND:VCARD\r\n"
                                                    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:up4\r\nUID:x4\r\nEND:VCARD\r\n",
                                                    "ann");
  EXPECT_TRUE(partly);
  EXPECT_EQ(1u, partly.Changed);
  EXPECT_EQ((std::vector<std::string>{"first", "up1", "up2", "up4"}), Names("ann"));
  EXPECT_EQ(first, Refs("ann")[0].Version);
}

TEST_F(CardIndexTest, AChangeBehindItsBackRebuildsWithNewVersions) {
  Load("<xBase><vCard><FN>a1</FN><UID>1</UID><OWNER>ann</OWNER><ID>1</ID></vCard></xBase>");
  const std::vector<TCardRef> before = Refs("ann");
  ASSERT_EQ(1u, before.size());
  TQuickDom& dom = store_.Dom();
  ASSERT_TRUE(dom.SelectNode("/xBase/vCard/FN"));
  dom.SetText("renamed");
  const std::vector<TCardRef> after = Refs("ann");
  ASSERT_EQ(1u, after.size());
  EXPECT_NE(before[0].Version, after[0].Version);
  EXPECT_EQ((std::vector<std::string>{"renamed"}), Names("ann"));
}

TEST_F(CardIndexTest, CardsGivenAUidGetANewVersionAndTheOthersKeepTheirs) {
  Load("<xBase>"
       "<vCard><FN>with</FN><UID>kept</UID><OWNER>ann</OWNER><ID>1</ID></vCard>"
       "<vCard><FN>without</FN><OWNER>ann</OWNER><ID>2</ID></vCard>"
       "</xBase>");
  std::size_t added = 0;
  const std::vector<TCardRef> before = store_.OwnCardRefsWithUids("ann", "", added);
  EXPECT_EQ(1u, added);
  ASSERT_EQ(2u, before.size());
  EXPECT_TRUE(before[1].HasUid);
  const std::vector<TCardRef> again = store_.OwnCardRefsWithUids("ann", "", added);
  EXPECT_EQ(0u, added);
  EXPECT_EQ(before[0].Version, again[0].Version);
  EXPECT_EQ(before[1].Version, again[1].Version);
  const std::optional<TRecordElement> tree = store_.CardTree(again[1].Node);
  EXPECT_TRUE(ChildText(*tree, "UID").starts_with("urn:uuid:"));
  // One card by its ID.
  EXPECT_EQ(1u, store_.OwnCardRefsWithUids("ann", "2", added).size());
  EXPECT_TRUE(store_.OwnCardRefsWithUids("ann", "3", added).empty());
}

TEST_F(CardIndexTest, StaysEqualToASearchOfTheStoreUnderRandomChanges) {
  Load("<xBase/>");
  const std::vector<std::string> owners = {"ann", "bob", "carl"};
  std::mt19937 random(20261209);
  int made = 0;
  for (int step = 0; step < 400; ++step) {
    const std::string owner = owners[random() % owners.size()];
    std::vector<TCardRef> own = Refs(owner);
    const auto some_id = [&]() -> std::string {
      if (own.empty()) return "none";
      const std::optional<TRecordElement> tree = store_.CardTree(own[random() % own.size()].Node);
      return std::string(ChildText(*tree, "ID"));
    };
    switch (random() % 5) {
      case 0:
      case 1:
        ASSERT_TRUE(store_.InsertRecord(Card("c" + std::to_string(++made)), owner));
        break;
      case 2: {
        const std::string id = some_id();
        store_.ReplaceRecord("/*/vCard[ID='" + id + "']", Card("c" + std::to_string(++made), id), owner);
        break;
      }
      case 3:
        store_.DeleteSelected("/*/vCard[ID='" + some_id() + "']", owner);
        break;
      case 4: {
        const std::string one = std::to_string(++made);
        const std::string two = std::to_string(++made);
        store_.InsertUpload("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:c" + one + "\r\nUID:u\r\nEND:VCARD\r\n" +
                                "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:c" + two + "\r\nUID:v\r\nEND:VCARD\r\n",
                            owner);
        break;
      }
    }
    for (const std::string& one : owners) ASSERT_EQ(SearchedNames(one), Names(one)) << "step " << step;
  }
}

}  // namespace
}  // namespace pelorin::testing
