// Cutting cards from a line list and reading their lines.
#include "vcard/vcard2xml.h"

#include <gtest/gtest.h>

#include "tests/vcard/vcard_test_util.h"

namespace pelorin {
namespace {

using test::Card;
using test::ConvertFirstCard;
using test::Record;
using TLines = std::vector<std::string>;

TEST(ConvertNextCardTest, NoCardStartEmptiesTheList) {
  TLines lines = {"FN:a", "END:VCARD", "BEGIN: VCARD", "BEGIN:VCARDS"};
  TvCard2XML converter;
  EXPECT_EQ("", converter.ConvertNextCard(lines));
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ("", converter.ConvertNextCard(lines));
}

TEST(ConvertNextCardTest, StartLineMatchedTrimmedAndInAnyCase) {
  for (const char* start : {"BEGIN:VCARD", "begin:vcard", "  BEGIN:vCard \t", "\x01"
                            "BEGIN:VCARD"}) {
    TLines lines = {start, "FN:a", "END:VCARD"};
    TvCard2XML converter;
    EXPECT_EQ(Record("<FN>a</FN>"), converter.ConvertNextCard(lines)) << start;
  }
}

TEST(ConvertNextCardTest, RemovesLinesUpToTheCardEndOnly) {
  TLines lines = {"From: x", "--b", "BEGIN:VCARD", "FN:a", "end:vCard \t", "junk",
                  "BEGIN:VCARD", "FN:b", "END:VCARD", "after"};
  TvCard2XML converter;
  EXPECT_EQ(Record("<FN>a</FN>"), converter.ConvertNextCard(lines));
  EXPECT_EQ((TLines{"junk", "BEGIN:VCARD", "FN:b", "END:VCARD", "after"}), lines);
  EXPECT_EQ(Record("<FN>b</FN>"), converter.ConvertNextCard(lines));
  EXPECT_EQ(TLines{"after"}, lines);
  EXPECT_EQ("", converter.ConvertNextCard(lines));
  EXPECT_TRUE(lines.empty());
}

TEST(ConvertNextCardTest, CardWithoutEndRunsToTheLastLine) {
  TLines lines = {"BEGIN:VCARD", "FN:a", "", "TEL:1"};
  TvCard2XML converter;
  EXPECT_EQ(Record("<FN>a</FN><TEL><NUMBER>1</NUMBER><VOICE/></TEL>"),
            converter.ConvertNextCard(lines));
  EXPECT_TRUE(lines.empty());
}

TEST(ConvertNextCardTest, CardLinesSkipEmptyLinesKeepBlankOnes) {
  TLines lines = {"BEGIN:VCARD", "", "FN:a", " ", "END:VCARD"};
  TvCard2XML converter;
  converter.ConvertNextCard(lines);
  EXPECT_EQ((TLines{"BEGIN:VCARD", "FN:a", " ", "END:VCARD"}), converter.CardLines);
}

// A card nested in another (a 2.1 AGENT's) is somebody else's: it becomes a
// card of its own, and the outer card keeps the lines after it.
TEST(ConvertNextCardTest, NestedCardsBecomeCardsOfTheirOwn) {
  TLines lines = {"BEGIN:VCARD", "FN:outer", "AGENT:", "BEGIN:VCARD", "FN:inner", "BEGIN:VCARD",
                  "FN:innermost", "END:VCARD", "END:VCARD", "TEL:1", "END:VCARD", "BEGIN:VCARD",
                  "FN:next", "END:VCARD"};
  TvCard2XML converter;
  EXPECT_EQ(Record("<FN>outer</FN><PROP><NAME>AGENT</NAME><VALUE></VALUE></PROP>"
                   "<TEL><NUMBER>1</NUMBER><VOICE/></TEL>"),
            converter.ConvertNextCard(lines));
  EXPECT_EQ((TLines{"BEGIN:VCARD", "FN:next", "END:VCARD"}), lines);
  EXPECT_EQ(Record("<FN>innermost</FN>"), converter.ConvertNextCard(lines));
  EXPECT_EQ(Record("<FN>inner</FN>"), converter.ConvertNextCard(lines));
  EXPECT_EQ(Record("<FN>next</FN>"), converter.ConvertNextCard(lines));
  EXPECT_EQ("", converter.ConvertNextCard(lines));
}

// A nested card without its END ends with the outer card's, as a card of its own.
TEST(ConvertNextCardTest, UnendedNestedCardEndsWithTheText) {
  TLines lines = {"BEGIN:VCARD", "FN:outer", "BEGIN:VCARD", "FN:inner"};
  TvCard2XML converter;
  EXPECT_EQ(Record("<FN>outer</FN>"), converter.ConvertNextCard(lines));
  EXPECT_EQ(Record("<FN>inner</FN>"), converter.ConvertNextCard(lines));
  EXPECT_EQ("", converter.ConvertNextCard(lines));
}

TEST(ConvertNextCardTest, FreshCardLinesOnEveryCall) {
  TLines lines = {"BEGIN:VCARD", "FN:a", "END:VCARD", "BEGIN:VCARD", "END:VCARD"};
  TvCard2XML converter;
  converter.ConvertNextCard(lines);
  EXPECT_EQ(Record(""), converter.ConvertNextCard(lines));
  EXPECT_EQ((TLines{"BEGIN:VCARD", "END:VCARD"}), converter.CardLines);
}

// A name that is not one of the mapped ones is kept in the generic shape; one
// that is no vCard name at all (a blank in it) makes the line no property.
TEST(ConvertCardTest, NamesRecognisedInAnyCaseButNotWithBlanks) {
  const struct { const char* line; const char* written; } cases[] = {
      {"tel;work:123", "<TEL><NUMBER>123</NUMBER><WORK/><VOICE/></TEL>"},
      {"Fn:a", "<FN>a</FN>"},
      {"FN :Ann", ""},
      {" FN:Ann", ""},  // a continuation of BEGIN:VCARD
      {"FNX:Ann", "<PROP><NAME>FNX</NAME><VALUE>Ann</VALUE></PROP>"},
      // Extension names may hold "_" as some writers' do; other names may not.
      {"X-WAB-SPOUSE_NAME:Pat", "<PROP><NAME>X-WAB-SPOUSE_NAME</NAME><VALUE>Pat</VALUE></PROP>"},
      {"SPOUSE_NAME:Pat", ""},
      {"BEGIN:VCARD", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Record(c.written), ConvertFirstCard(Card(c.line))) << c.line;
}

// Unfolding takes the line break and exactly the one blank or tab after it, in
// every version: the other blanks are the value's ("come to", not "cometo").
TEST(ConvertCardTest, FoldedLinesOf21LoseOneBlankEach) {
  EXPECT_EQ(Record("<NOTE>abcdef</NOTE>"), ConvertFirstCard(Card("NOTE:abc\r\n def")));
  EXPECT_EQ(Record("<NOTE>abcdef  g</NOTE>"), ConvertFirstCard(Card("NOTE:abc\r\n\tdef \r\n  g")));
  EXPECT_EQ(Record("<NOTE>come to</NOTE>"), ConvertFirstCard(Card("NOTE:come\r\n  to")));
  EXPECT_EQ(Record("<PROP><NAME>X-A</NAME><VALUE>12</VALUE></PROP><FN>a</FN>"),
            ConvertFirstCard(Card("X-A:1\r\n 2\r\nFN:a")));
  // An empty line is no continuation and does not break one.
  EXPECT_EQ(Record("<NOTE>ab</NOTE>"), ConvertFirstCard(Card("NOTE:a\r\n\r\n b")));
}

// After a soft break the next line is data as it stands: its blanks and any ":"
// in it belong to the value.
TEST(ConvertCardTest, QuotedPrintableJoinsLinesWithoutColon) {
  EXPECT_EQ(Record("<NOTE>line one line two    end</NOTE>"),
            ConvertFirstCard(Card("NOTE;ENCODING=QUOTED-PRINTABLE:line one =\r\n"
                                  "line two =\r\n   end")));
  // A hard line break stays, as CR LF.
  EXPECT_EQ(Record("<NOTE>a\r\nb</NOTE>"),
            ConvertFirstCard(Card("NOTE;QUOTED-PRINTABLE:a=0D=0A=\r\nb")));
  // A line holding ":" ends the value and is read as a line of its own.
  EXPECT_EQ(Record("<NOTE>a\r\nb</NOTE><TEL><NUMBER>1</NUMBER><VOICE/></TEL>"),
            ConvertFirstCard(Card("NOTE;QUOTED-PRINTABLE:a\r\nb\r\nTEL:1")));
  // A "#" comment line after a value without a soft break is no part of it;
  // after a soft break it is data like any other line.
  EXPECT_EQ(Record("<NOTE>a\r\nb</NOTE><FN>x</FN>"),
            ConvertFirstCard(Card("NOTE;QUOTED-PRINTABLE:a\r\nb\r\n# a comment\r\nFN:x")));
  EXPECT_EQ(Record("<NOTE>a# b</NOTE>"), ConvertFirstCard(Card("NOTE;QUOTED-PRINTABLE:a=\r\n# b")));
  // Empty lines vanish before the join.
  EXPECT_EQ(Record("<NOTE>ab</NOTE>"),
            ConvertFirstCard(Card("NOTE;QUOTED-PRINTABLE:a=\r\n\r\nb")));
  // Detection is on the header in any case, whatever the property.
  EXPECT_EQ(Record("<FN>a=b</FN>"), ConvertFirstCard(Card("FN;encoding=quoted-printable:a=3Db")));
  EXPECT_EQ(Record("<PROP><NAME>X-Q</NAME><VALUE>ab</VALUE></PROP><FN>x</FN>"),
            ConvertFirstCard(Card("X-Q;QUOTED-PRINTABLE:a=\r\nb\r\nFN:x")));
  // A soft break before a line that starts a property ends the value there.
  EXPECT_EQ(Record("<NOTE>Favor</NOTE><PROP><NAME>X-IRMC-LUID</NAME><VALUE>2</VALUE></PROP>"),
            ConvertFirstCard(Card("NOTE;ENCODING=QUOTED-PRINTABLE:Favor=\r\nX-IRMC-LUID:2")));
  EXPECT_EQ(Record("<NOTE>\xD0\x9E\xD0\xB1: 15.08.08</NOTE>"),
            ConvertFirstCard(Card("NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=D0=9E=D0=B1=\r\n: 15.08.08")));
}

TEST(ConvertCardTest, EndLineStopsAQuotedPrintableValue) {
  TLines lines = {"BEGIN:VCARD", "NOTE;QUOTED-PRINTABLE:a=", "END:VCARD", "BEGIN:VCARD",
                  "FN:b", "END:VCARD"};
  TvCard2XML converter;
  EXPECT_EQ(Record("<NOTE>a</NOTE>"), converter.ConvertNextCard(lines));
  EXPECT_EQ(Record("<FN>b</FN>"), converter.ConvertNextCard(lines));
}

TEST(ConvertCardTest, LineWithoutColonHasNoParameters) {
  EXPECT_EQ(Record("<TEL><NUMBER>WORK</NUMBER><VOICE/></TEL>"),
            ConvertFirstCard(Card("TEL;WORK")));
  EXPECT_EQ(Record("<NOTE>a;b</NOTE>"), ConvertFirstCard(Card("NOTE;a;b")));
}

}  // namespace
}  // namespace pelorin
