// The text operations and the quoted-printable decoder.
#include "vcard/vcard_text.h"

#include <gtest/gtest.h>

#include "vcard/quoted_printable.h"

namespace pelorin {
namespace {

TEST(EscapeXmlTest, AmpersandFirstThenTheOthers) {
  const struct { const char* text; const char* want; } cases[] = {
      {"A & B <x>", "A &amp; B &lt;x&gt;"},
      {"&lt;", "&amp;lt;"},  // an escape already in the text is escaped again
      {"\"it's\"", "&quot;it&apos;s&quot;"},
      {"a\r\nb\tc\x01", "a\r\nb\tc\x01"},  // controls and line ends pass
      {"\xC3\xBC", "\xC3\xBC"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, EscapeXml(c.text)) << c.text;
}

TEST(FetchTokenTest, TakesTextBeforeSeparatorAndRemovesIt) {
  std::string_view text = "a;;b";
  EXPECT_EQ("a", FetchToken(text, ';'));
  EXPECT_EQ(";b", text);
  EXPECT_EQ("", FetchToken(text, ';'));
  EXPECT_EQ("b", FetchToken(text, ';'));  // no separator left: all of it
  EXPECT_EQ("", text);
  EXPECT_EQ("", FetchToken(text, ';'));
}

TEST(FetchTokenTest, SeparatorAtTheEndLeavesNothing) {
  std::string_view text = "a;";
  EXPECT_EQ("a", FetchToken(text, ';'));
  EXPECT_TRUE(text.empty());
}

TEST(FetchTokenTest, BackslashKeepsSeparatorInside) {
  const struct { const char* text; const char* token; const char* rest; } cases[] = {
      {"O\\;Brien;Ann", "O\\;Brien", "Ann"},
      {"a\\\\;b", "a\\\\", "b"},  // an escaped backslash does not escape the ";"
      {"a\\", "a\\", ""},          // a backslash at the very end
      {"\\;", "\\;", ""},
  };
  for (const auto& c : cases) {
    std::string_view text = c.text;
    EXPECT_EQ(c.token, FetchToken(text, ';', TEscapes::kBackslash)) << c.text;
    EXPECT_EQ(c.rest, text) << c.text;
  }
}

TEST(SplitListTest, DropsEmptyPiecesKeepsOrder) {
  using V = std::vector<std::string_view>;
  EXPECT_EQ((V{"b", "a", "b"}), SplitList("b,a,,b,"));
  EXPECT_EQ(V{}, SplitList(",,"));
  EXPECT_EQ(V{"x y"}, SplitList("x y"));
  EXPECT_EQ((V{"a\\,b", "c"}), SplitList("a\\,b,c", TEscapes::kBackslash));
  EXPECT_EQ((V{"a\\", "b"}), SplitList("a\\,b"));  // no escapes in 2.1 text
}

TEST(SplitWordsTest, WordsBeforeFirstColon) {
  using W = std::vector<std::string>;
  const struct { const char* text; W words; const char* value; } cases[] = {
      {"WORK;VOICE:123", {"WORK", "VOICE"}, "123"},
      {"work,fax;;pref:1", {"WORK", "FAX", "PREF"}, "1"},
      {"VOICE;VOICE:1", {"VOICE", "VOICE"}, "1"},  // duplicates stay
      {"TYPE=WORK:1", {"TYPE=WORK"}, "1"},         // one word as written
      {"12:34", {"12"}, "34"},
      {"123", {}, "123"},  // no colon: no words
      {":a:b", {}, "a:b"},
  };
  for (const auto& c : cases) {
    const TWordsAndValue split = SplitWords(c.text);
    EXPECT_EQ(c.words, split.words) << c.text;
    EXPECT_EQ(c.value, split.value) << c.text;
  }
}

TEST(IndexOfNameTest, ExactMatchInTableOrder) {
  EXPECT_EQ(28u, PropertyNames.size());
  EXPECT_EQ(0, IndexOfName("FN", PropertyNames));
  EXPECT_EQ(21, IndexOfName("SORT-STRING", PropertyNames));
  EXPECT_EQ(27, IndexOfName("KEY", PropertyNames));
  EXPECT_EQ(-1, IndexOfName("fn", PropertyNames));  // callers upper-case first
  EXPECT_EQ(-1, IndexOfName("FN ", PropertyNames));
  EXPECT_EQ(-1, IndexOfName("", PropertyNames));
}

TEST(IsXmlNameTest, OnlyNamesAStoreAccepts) {
  for (const char* good : {"WORK", "X-CUSTOM", "_A", "A.B", "a1"}) EXPECT_TRUE(IsXmlName(good));
  for (const char* bad : {"", "1ST", "TYPE=WORK", "A B", "-X", ".A", "A:B", "A<", "\xC3\x9C"}) {
    EXPECT_FALSE(IsXmlName(bad)) << bad;
  }
}

TEST(QuotedPrintableTest, RulesOfTheDecoder) {
  const struct { const char* text; std::string want; } cases[] = {
      {"a=3Db", "a=b"},
      {"=c3=bc", "\xC3\xBC"},          // lower-case hex digits
      {"ab=\r\ncd", "abcd"},          // soft break
      {"a=\r\n=\r\nb", "ab"},
      {"a=G1b", "a=G1b"},             // neither hex nor CR LF: stays as written
      {"a=3", "a3"},                  // "=" among the last two: dropped
      {"ab=", "ab"},
      {"=", ""},
      {"a =20\r\n", "a  \r\n"},       // blanks and hard line ends are copied
      {"=0D=0A", "\r\n"},
      {"=00", std::string(1, '\0')},
      {"==41", "==41"},               // "=" then "=4": kept, then "1"
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, DecodeQuotedPrintable(c.text)) << c.text;
}

TEST(QuotedPrintableTest, LongHostileInputStaysLinearAndInBounds) {
  // Only "=" signs: every pair would be a broken escape.
  const std::string equals(1 << 20, '=');
  EXPECT_EQ(equals.size() / 3 * 3, DecodeQuotedPrintable(equals).size());
  const std::string tail = std::string(1 << 16, 'a') + "=";
  EXPECT_EQ(std::string(1 << 16, 'a'), DecodeQuotedPrintable(tail));
}

}  // namespace
}  // namespace pelorin
