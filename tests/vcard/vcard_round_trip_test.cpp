// Reading what the writer writes gives the record again: every card of the
// project's test files (and of the shared corpus, when it is beside the
// checkout) is read, written as vCard 3.0 and 4.0, read back and compared
// element by element. Only VERSION differs (the written version), and the raw
// value of a 2.1 card's generic property, which comes back in the escapes of
// 3.0 and 4.0 (a comma or a lone backslash escaped). Left out of
// the count: a card the writer had to complete (no FN; no N in 3.0), and a 4.0
// card written as 3.0, which reads back with the types 3.0 implies (VOICE for a
// TEL, INTL POSTAL PARCEL WORK for an ADR) that 4.0 does not.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/vcard/vcard_test_util.h"
#include "vcard/vcard2xml.h"
#include "vcard/vcard_record.h"
#include "vcard/vcard_escape.h"
#include "vcard/vcard_upload_reader.h"
#include "vcard/vcard_writer.h"
#include "xml/record_tree.h"

namespace pelorin {
namespace {

std::vector<TRecordElement> ReadCards(const std::string& text) {
  std::vector<TRecordElement> cards;
  TvCardUploadReader reader(text);
  std::string xml;
  while (reader.NextPass(xml)) {
    if (xml.empty()) continue;
    std::optional<TRecordElement> card = RecordTreeFromXml(xml);
    EXPECT_TRUE(card.has_value()) << xml;
    if (card) cards.push_back(std::move(*card));
  }
  return cards;
}

TRecordElement WithoutVersion(TRecordElement card) {
  std::erase_if(card.Children, [](const TRecordElement& e) { return e.Name == "VERSION"; });
  return card;
}

// A 2.1 card's generic values as the writer gives them to 3.0 and 4.0.
TRecordElement With30Escapes(TRecordElement card) {
  for (TRecordElement& element : card.Children) {
    if (element.Name != "PROP") continue;
    for (TRecordElement& child : element.Children) {
      if (child.Name == "VALUE") child.Text = Reescape21Value(child.Text);
    }
  }
  return card;
}

struct TRoundTrips {
  int Compared = 0;
  int Completed = 0;  // cards the writer had to add FN or N to
};

// Each card of `text` through both versions; failures name the file and card.
TRoundTrips ExpectRoundTrips(const std::string& text, const std::string& file) {
  TRoundTrips counts;
  const std::vector<TRecordElement> cards = ReadCards(text);
  for (std::size_t i = 0; i < cards.size(); ++i) {
    const TRecordElement& card = cards[i];
    const bool has_fn = FindChild(card, "FN") != nullptr;
    const bool has_n = FindChild(card, "N") != nullptr;
    const std::string_view source = ChildText(card, "VERSION");
    const bool from_4 = source == "4.0" || source == "4";
    const bool from_21 = source.starts_with('2');
    const TRecordElement expected = WithoutVersion(from_21 ? With30Escapes(card) : card);
    for (const TvCardVersion version : {TvCardVersion::k30, TvCardVersion::k40}) {
      if (!has_fn || (version == TvCardVersion::k30 && (!has_n || from_4))) {
        ++counts.Completed;
        continue;
      }
      const std::string written = WriteVCard(card, version, {});
      const std::vector<TRecordElement> again = ReadCards(written);
      EXPECT_EQ(1u, again.size()) << file << " card " << i + 1 << "\n" << written;
      if (again.size() != 1) continue;
      EXPECT_EQ(expected, WithoutVersion(again[0]))
          << file << " card " << i + 1 << (version == TvCardVersion::k30 ? " as 3.0" : " as 4.0") << "\n"
          << written;
      ++counts.Compared;
    }
  }
  return counts;
}

TEST(RoundTripTest, EveryTestCardReadsBackFromBothVersions) {
  int compared = 0;
  for (const std::string& file : test::CardFilesIn(test::TestCardsDir())) {
    compared += ExpectRoundTrips(test::ReadFile(test::TestCardsDir() + file), file).Compared;
  }
  EXPECT_GT(compared, 40);
}

TEST(RoundTripTest, EveryCorpusCardReadsBackFromBothVersions) {
  const std::string corpus = test::SharedCorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no shared corpus beside the checkout";
  TRoundTrips total;
  for (const std::string& file : test::CardFilesIn(corpus)) {
    const TRoundTrips counts = ExpectRoundTrips(test::ReadFile(corpus + file), file);
    total.Compared += counts.Compared;
    total.Completed += counts.Completed;
  }
  EXPECT_GT(total.Compared, 200);
  RecordProperty("compared", total.Compared);
  RecordProperty("completed", total.Completed);
}

}  // namespace
}  // namespace pelorin
