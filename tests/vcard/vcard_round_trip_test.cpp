// Reading what the writer writes gives the record again: every card of the
// project's test files (and of the shared corpus, when it is beside the
// checkout) is read, written as vCard 3.0 and 4.0, read back and compared
// element by element. Only VERSION differs (the written version), and the raw
// value of a 2.1 card's generic property, which comes back in the escapes of
// 3.0 and 4.0 (a comma or a lone backslash escaped). Left out of
// the count: a card the writer had to complete (no FN; no N in 3.0), and a 4.0
// card written as 3.0, which reads back with the types 3.0 implies (VOICE for a
// TEL, INTL POSTAL PARCEL WORK for an ADR) that 4.0 does not.
#include <optional>
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

// Cards of the shapes the round-trip fuzzer found, read as they must be and
// then through both versions and back.
struct TShapeCase {
  const char* Card;    // a whole card
  const char* Record;  // what the reader makes of it, inside vCard
};

TEST(RoundTripTest, ShapesTheFuzzerFoundReadAsTheyMustAndComeBack) {
  const TShapeCase cases[] = {
      // A folded line continues the value, whatever it holds: no second card
      // starts, and the card does not end there.
      {"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nNOTE:abc\r\n BEGIN:VCARD\r\n END:VCARD\r\nN:B;;;;\r\nEND:VCARD\r\n",
       "<VERSION>3.0</VERSION><FN>A</FN><NOTE>abcBEGIN:VCARDEND:VCARD</NOTE><N><FAMILY>B</FAMILY></N>"},
      // The version is the whole VERSION line, continuations and all, so the
      // card is no 4.0 card, and its TEL gets the voice type of the older ones.
      {"BEGIN:VCARD\r\nVERSION:4.0\r\n x\r\nFN:A\r\nN:A;;;;\r\nTEL:1\r\nEND:VCARD\r\n",
       "<VERSION>4.0x</VERSION><FN>A</FN><N><FAMILY>A</FAMILY></N><TEL><NUMBER>1</NUMBER><VOICE/></TEL>"},
      // QUOTED-PRINTABLE among other type words decodes the value and is spent.
      {"BEGIN:VCARD\r\nVERSION:2.1\r\nFN:A\r\nN:A\r\nLABEL;TYPE=WORK,QUOTED-PRINTABLE:a=3Db\r\n"
       "X-A;TYPE=HOME,QUOTED-PRINTABLE:c=3Dd\r\nEND:VCARD\r\n",
       "<VERSION>2.1</VERSION><FN>A</FN><N><FAMILY>A</FAMILY></N><LABEL><WORK/><LINE>a=b</LINE></LABEL>"
       "<PROP><NAME>X-A</NAME><PARAM><NAME>TYPE</NAME><VALUE>HOME</VALUE></PARAM><VALUE>c=d</VALUE></PROP>"},
      // A type word that names a part of the element is no marker beside it.
      {"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nN:A;;;;\r\nADR;TYPE=CTRY,HOME:;;Street;;;;\r\n"
       "TEL;TYPE=number:1\r\nEND:VCARD\r\n",
       "<VERSION>3.0</VERSION><FN>A</FN><N><FAMILY>A</FAMILY></N><ADR><HOME/><STREET>Street</STREET></ADR>"
       "<PARAMS><PARAM><NAME>TYPE</NAME><VALUE>CTRY</VALUE></PARAM></PARAMS>"
       "<TEL><NUMBER>1</NUMBER><VOICE/></TEL><PARAMS><PARAM><NAME>TYPE</NAME><VALUE>number</VALUE></PARAM></PARAMS>"},
      // Two numbered PREFs, each a marker and a parameter, among other types.
      {"BEGIN:VCARD\r\nVERSION:4.0\r\nFN:A\r\nTEL;PREF=1;TYPE=cell;VALUE=uri;PREF=2;TYPE=pref,voice:tel:1\r\n"
       "END:VCARD\r\n",
       "<VERSION>4.0</VERSION><FN>A</FN><TEL><NUMBER>tel:1</NUMBER><PREF/><CELL/><PREF/><PREF/><VOICE/></TEL>"
       "<PARAMS><PARAM><NAME>PREF</NAME><VALUE>1</VALUE></PARAM><PARAM><NAME>VALUE</NAME><VALUE>uri</VALUE></PARAM>"
       "<PARAM><NAME>PREF</NAME><VALUE>2</VALUE></PARAM></PARAMS>"},
      // The data: URI names the photo's type; the TYPE it overrides keeps its place.
      {"BEGIN:VCARD\r\nVERSION:4.0\r\nFN:A\r\nPHOTO;TYPE=\"a b\";TYPE=HOME;TYPE=FAX:data:image/png;base64,AAAA\r\n"
       "END:VCARD\r\n",
       "<VERSION>4.0</VERSION><FN>A</FN><PHOTO><TYPE>image/png</TYPE><BINVAL>AAAA</BINVAL></PHOTO>"
       "<PARAMS><PARAM><NAME>TYPE</NAME><VALUE>a b</VALUE></PARAM><PARAM><NAME>TYPE</NAME><VALUE>HOME</VALUE></PARAM>"
       "<PARAM><NAME>TYPE</NAME><VALUE>FAX</VALUE></PARAM></PARAMS>"},
      // Encoding words in a TYPE list are spent like bare ones; a line break
      // that a quoted-printable continuation puts into a parameter is a blank.
      {"BEGIN:VCARD\r\nVERSION:2.1\r\nFN:A\r\nN:A\r\nNOTE;ENCODING=QUOTED-PRINTABLE;X-A=\"u:v=\r\nw\":x=3Dy\r\n"
       "TEL;TYPE=8BIT,HOME,B:1\r\nEND:VCARD\r\n",
       "<VERSION>2.1</VERSION><FN>A</FN><N><FAMILY>A</FAMILY></N><NOTE>x=y</NOTE><PARAMS><PARAM><NAME>X-A</NAME>"
       "<VALUE>u:v= w</VALUE></PARAM></PARAMS><TEL><NUMBER>1</NUMBER><HOME/><VOICE/></TEL>"},
      // VERSION stays the card's version whatever its parameters say.
      {"BEGIN:VCARD\r\nVERSION;ENCODING=b:3.0\r\nFN:A\r\nN:A;;;;\r\nEND:VCARD\r\n",
       "<VERSION>3.0</VERSION><FN>A</FN><N><FAMILY>A</FAMILY></N>"},
  };
  for (const TShapeCase& shape : cases) {
    EXPECT_EQ(test::Record(shape.Record), test::ConvertFirstCard(shape.Card)) << shape.Card;
    EXPECT_EQ(1u, ReadCards(shape.Card).size()) << shape.Card;
    EXPECT_GT(ExpectRoundTrips(shape.Card, shape.Card).Compared, 0) << shape.Card;
  }
}

// A record posted through the pages may hold what no card gives: a
// QUOTED-PRINTABLE marker or parameter. It is never written, since the reader
// would decode the value once more.
TEST(RoundTripTest, QuotedPrintableIsNeverWrittenAsAType) {
  const std::optional<TRecordElement> card = RecordTreeFromXml(
      "<vCard><FN>A</FN><TEL><NUMBER>a=3Db</NUMBER><QUOTED-PRINTABLE/><WORK/></TEL>"
      "<PROP><NAME>X-A</NAME><PARAM><NAME>ENCODING</NAME><VALUE>QUOTED-PRINTABLE</VALUE></PARAM>"
      "<PARAM><NAME>type</NAME><VALUE>quoted-printable</VALUE><VALUE>home</VALUE></PARAM><VALUE>c=3Dd</VALUE></PROP>"
      "</vCard>");
  ASSERT_TRUE(card.has_value());
  for (const TvCardVersion version : {TvCardVersion::k30, TvCardVersion::k40}) {
    const std::string written = WriteVCard(*card, version, {});
    EXPECT_EQ(std::string::npos, written.find("QUOTED"));
    EXPECT_EQ(std::string::npos, written.find("quoted"));
    EXPECT_NE(std::string::npos, written.find(":a=3Db\r\n")) << written;
    EXPECT_NE(std::string::npos, written.find("X-A;type=home:c=3Dd\r\n")) << written;
    const std::vector<TRecordElement> again = ReadCards(written);
    ASSERT_EQ(1u, again.size());
    EXPECT_EQ("a=3Db", ChildText(*FindChild(again[0], "TEL"), "NUMBER"));
  }
}

}  // namespace
}  // namespace pelorin
