// The pieces of a written line: UTF-8 repair, escaping per version, the
// line's shape and its folding.
#include "vcard/content_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vcard/line_folding.h"
#include "vcard/utf8_repair.h"
#include "vcard/vcard_escape.h"

namespace pelorin {
namespace {

constexpr char kFffd[] = "\xEF\xBF\xBD";
constexpr char kEuro[] = "\xE2\x82\xAC";        // 3 octets
constexpr char kGrinning[] = "\xF0\x9F\x98\x80";  // 4 octets

std::vector<std::string> PhysicalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no CR LF>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string Folded(std::string_view line) {
  std::string out;
  AppendFoldedLine(out, line);
  return out;
}

// Every physical line within the bound, valid UTF-8 on its own (so no fold
// fell inside a sequence), each continuation one blank in, and unfolding
// gives the line back.
void ExpectFoldedWell(std::string_view line, const std::string& folded) {
  const std::vector<std::string> lines = PhysicalLines(folded);
  ASSERT_FALSE(lines.empty());
  std::string unfolded;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), kMaxLineOctets) << "line " << i;
    EXPECT_EQ(lines[i], ReplaceInvalidUtf8(lines[i])) << "line " << i << " cuts a sequence";
    if (i == 0) {
      unfolded = lines[i];
    } else {
      ASSERT_EQ(' ', lines[i].front()) << "line " << i;
      EXPECT_GT(lines[i].size(), 1u) << "line " << i << " holds nothing";
      unfolded += lines[i].substr(1);
    }
  }
  EXPECT_EQ(line, unfolded);
}

TEST(LineFoldingTest, SeventyFiveOctetsStayOneLineSeventySixFold) {
  const std::string exact(75, 'a');
  EXPECT_EQ(exact + "\r\n", Folded(exact));
  const std::string one_more = exact + "b";
  EXPECT_EQ(exact + "\r\n b\r\n", Folded(one_more));
  EXPECT_EQ("\r\n", Folded(""));
}

TEST(LineFoldingTest, ContinuationLinesHoldSeventyFourOctets) {
  const std::string line(75 + 74 + 74 + 3, 'x');
  const std::vector<std::string> lines = PhysicalLines(Folded(line));
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ(75u, lines[0].size());
  EXPECT_EQ(75u, lines[1].size());
  EXPECT_EQ(75u, lines[2].size());
  EXPECT_EQ(" xxx", lines[3]);
  ExpectFoldedWell(line, Folded(line));
}

TEST(LineFoldingTest, ThreeOctetCharacterAcrossTheBoundaryMovesWhole) {
  // 72 + 3 ends exactly at 75: no fold. 73 + 3 and 74 + 3 cross it.
  EXPECT_EQ(1u, PhysicalLines(Folded(std::string(72, 'a') + kEuro)).size());
  for (std::size_t before : {73u, 74u}) {
    const std::string line = std::string(before, 'a') + kEuro + "z";
    const std::string folded = Folded(line);
    EXPECT_EQ(std::string(before, 'a') + "\r\n " + kEuro + "z\r\n", folded) << before;
    ExpectFoldedWell(line, folded);
  }
}

TEST(LineFoldingTest, FourOctetCharacterAcrossTheBoundaryMovesWhole) {
  for (std::size_t before : {72u, 73u, 74u}) {
    const std::string line = std::string(before, 'a') + kGrinning + "z";
    const std::string folded = Folded(line);
    EXPECT_EQ(std::string(before, 'a') + "\r\n " + kGrinning + "z\r\n", folded) << before;
    ExpectFoldedWell(line, folded);
  }
  EXPECT_EQ(1u, PhysicalLines(Folded(std::string(71, 'a') + kGrinning)).size());
}

TEST(LineFoldingTest, LongRunsOfMultiOctetCharacters) {
  for (const char* character : {"\xC3\xA9", kEuro, kGrinning}) {
    std::string line = "NOTE:";
    for (int i = 0; i < 100; ++i) line += character;
    ExpectFoldedWell(line, Folded(line));
  }
  // Mixed widths put every kind of character on the boundary somewhere.
  std::string mixed = "NOTE:";
  for (int i = 0; i < 60; ++i) mixed += std::string("a\xC3\xA9") + kEuro + kGrinning;
  ExpectFoldedWell(mixed, Folded(mixed));
}

TEST(Utf8RepairTest, WellFormedSequencesPass) {
  for (const std::string& text : {std::string("plain"), std::string("\xC2\x80\xDF\xBF"),
                                 std::string("\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80"),
                                 std::string(kGrinning) + "\xF4\x8F\xBF\xBF", std::string()}) {
    EXPECT_EQ(text, ReplaceInvalidUtf8(text));
  }
}

TEST(Utf8RepairTest, EachBadByteBecomesOneReplacementCharacter) {
  const auto times = [](int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += kFffd;
    return out;
  };
  const struct { std::string bytes; std::string want; } cases[] = {
      {"a\x80" "b", "a" + times(1) + "b"},                // stray continuation byte
      {"\xC0\x80", times(2)},                             // overlong NUL
      {"\xC1\xBF", times(2)},                             // overlong
      {"\xE0\x80\x80", times(3)},                         // overlong three-octet form
      {"\xED\xA0\x80", times(3)},                         // a surrogate
      {"\xF0\x80\x80\x80", times(4)},                     // overlong four-octet form
      {"\xF4\x90\x80\x80", times(4)},                     // past U+10FFFF
      {"\xF5\x80", times(2)},                             // no such lead byte
      {"\xFF\xFE", times(2)},
      {"x\xE2\x82", "x" + times(2)},                      // cut at the end
      {"\xE2\x82y", times(2) + "y"},                      // cut in the middle
      {"\xC3\xA9\xC3", "\xC3\xA9" + times(1)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, ReplaceInvalidUtf8(c.bytes)) << c.bytes;
}

TEST(ValueEscapeTest, TextEscapesBackslashLineBreaksCommaAndSemicolon) {
  const struct { const char* text; const char* want; } cases[] = {
      {"a\\b", "a\\\\b"},
      {"a,b;c", "a\\,b\\;c"},
      {"l1\nl2", "l1\\nl2"},
      {"l1\r\nl2", "l1\\nl2"},  // one break, not two
      {"l1\rl2", "l1\\nl2"},
      {"\n\n", "\\n\\n"},
      {"tab\there: \"q\"", "tab\there: \"q\""},
      {"\x01x\x1F", "x"},      // controls a line cannot hold
      {"x\x7F", "x\x7F"},      // DEL is kept, as the reader keeps it
      {"\\n", "\\\\n"},        // a backslash and an n, not a line break
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, EscapeText(c.text)) << c.text;
}

TEST(ValueEscapeTest, SeparatorFreeValuesEscapeOnlyBackslashAndLineBreaks) {
  EXPECT_EQ("http://x.example/a,b;c?d=1", EscapeKeepingSeparators("http://x.example/a,b;c?d=1"));
  EXPECT_EQ("a\\\\b\\nc", EscapeKeepingSeparators("a\\b\nc"));
}

TEST(ValueEscapeTest, PropValuesKeepTheirEscapesOnlyLineBreaksChange) {
  EXPECT_EQ("a\\,b\\;c\\\\d\\n", EscapeLineBreaks("a\\,b\\;c\\\\d\\n"));
  EXPECT_EQ("a\\nb\\nc", EscapeLineBreaks("a\nb\r\nc"));
  EXPECT_EQ("a,b;c", EscapeLineBreaks("a,b;c"));
}

TEST(ValueEscapeTest, ParamValuesPerVersion) {
  const struct { const char* value; const char* v30; const char* v40; } cases[] = {
      {"work", "work", "work"},
      {"a:b", "\"a:b\"", "\"a:b\""},
      {"a;b", "\"a;b\"", "\"a;b\""},
      {"a,b", "\"a,b\"", "\"a,b\""},
      {"say \"hi\"", "say hi", "say ^'hi^'"},
      {"x^y", "x^y", "x^^y"},
      {"^'", "^'", "^^'"},  // only the caret is encoded
      {"l1\nl2", "l1 l2", "l1^nl2"},
      {"l1\r\nl2", "l1 l2", "l1^nl2"},
      {"\"a:b\"", "\"a:b\"", "\"^'a:b^'\""},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.v30, ParamValue(c.value, TvCardVersion::k30)) << c.value;
    EXPECT_EQ(c.v40, ParamValue(c.value, TvCardVersion::k40)) << c.value;
  }
}

TEST(ContentLineTest, WritableNames) {
  for (const char* name : {"FN", "X-ABLabel", "item1", "X_ODD", "a1-b"}) {
    EXPECT_TRUE(IsWritableName(name)) << name;
  }
  for (const char* name : {"", "a.b", "a:b", "a;b", "a,b", "a=b", "a\"b", "a b", "a\tb", "\xC3\xA9",
                           "a\x7F"}) {
    EXPECT_FALSE(IsWritableName(name)) << name;
  }
}

TEST(ContentLineTest, GroupNameParametersAndValue) {
  const TContentLine line{
      "item1", "X-ABLabel", {{"TYPE", {"pref", "a,b"}}, {"X-EMPTY", {}}, {"X-Q", {"say \"x\""}}},
      "v\\,w"};
  std::string out;
  ASSERT_TRUE(AppendContentLine(out, line, TvCardVersion::k40));
  EXPECT_EQ("item1.X-ABLabel;TYPE=pref,\"a,b\";X-EMPTY=;X-Q=say ^'x^':v\\,w\r\n", out);
  out.clear();
  ASSERT_TRUE(AppendContentLine(out, line, TvCardVersion::k30));
  EXPECT_EQ("item1.X-ABLabel;TYPE=pref,\"a,b\";X-EMPTY=;X-Q=say x:v\\,w\r\n", out);
}

TEST(ContentLineTest, UnwritableGroupAndParametersAreLeftOutUnwritableNamesNotWritten) {
  std::string out;
  ASSERT_TRUE(AppendContentLine(out, {"a.b", "NOTE", {{"X:Y", {"1"}}, {"X-OK", {"2"}}}, "v"},
                                TvCardVersion::k30));
  EXPECT_EQ("NOTE;X-OK=2:v\r\n", out);
  out = "kept";
  EXPECT_FALSE(AppendContentLine(out, {"", "BAD:NAME", {}, "v"}, TvCardVersion::k30));
  EXPECT_FALSE(AppendContentLine(out, {"", "", {}, "v"}, TvCardVersion::k40));
  EXPECT_EQ("kept", out);
}

TEST(ContentLineTest, BadUtf8IsReplacedAndLongLinesFolded) {
  std::string out;
  ASSERT_TRUE(AppendContentLine(out, {"", "NOTE", {{"X-P", {"\xFF"}}}, "a\xC3"}, TvCardVersion::k40));
  EXPECT_EQ(std::string("NOTE;X-P=") + kFffd + ":a" + kFffd + "\r\n", out);
  out.clear();
  std::string value;
  for (int i = 0; i < 50; ++i) value += kEuro;
  ASSERT_TRUE(AppendContentLine(out, {"", "NOTE", {}, value}, TvCardVersion::k30));
  ExpectFoldedWell("NOTE:" + value, out);
}

}  // namespace
}  // namespace pelorin
