// The single-pass upload reader against the line-list loop it replaces, and
// the decoding of the upload text.
#include "vcard/vcard_upload_reader.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/vcard/vcard_test_util.h"
#include "vcard/upload_text.h"

namespace pelorin {
namespace {

using namespace std::string_literals;
using test::PassesOfLineLoop;
using test::PassesOfReader;
using test::Record;
using TPasses = std::vector<std::string>;

const std::string kCardA = "BEGIN:VCARD\r\nFN:a\r\nEND:VCARD";
const std::string kRecordA = Record("<FN>a</FN>");

TEST(UploadReaderTest, LastPassOutcome) {
  const struct { std::string raw; TPasses want; } cases[] = {
      {"", {}},
      {kCardA, {kRecordA}},
      {kCardA + "\r\n", {kRecordA}},
      {kCardA + "\n", {kRecordA}},
      {kCardA + "\r", {kRecordA}},
      {kCardA + "\r\n\r\n", {kRecordA, ""}},  // one empty line after: one more pass
      {kCardA + "\r\r", {kRecordA, ""}},
      {kCardA + "\r\n--b--\r\n", {kRecordA, ""}},
      {kCardA + "\r\n\0junk"s, {kRecordA}},  // a NUL ends the text
      {"\0"s + kCardA, {""}},                // text with no line still makes one pass
      {"x", {""}},
      {"\r\n", {""}},
      {kCardA + "\r\n" + kCardA, {kRecordA, kRecordA}},
      {"junk\r\n" + kCardA + "\r\njunk\r\n" + kCardA + "\r\n", {kRecordA, kRecordA}},
      {"BEGIN:VCARD\r\nFN:a", {kRecordA}},  // no end line: the card runs to the end
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.want, PassesOfReader(c.raw)) << c.raw;
    EXPECT_EQ(c.want, PassesOfLineLoop(c.raw)) << c.raw;
  }
}

TEST(UploadReaderTest, FalseLeavesTheLastResultInPlace) {
  TvCardUploadReader reader(kCardA + "\r\n");
  std::string card_xml = "stale";
  ASSERT_TRUE(reader.NextPass(card_xml));
  EXPECT_EQ(kRecordA, card_xml);
  EXPECT_FALSE(reader.NextPass(card_xml));
  EXPECT_EQ(kRecordA, card_xml);
  EXPECT_FALSE(reader.NextPass(card_xml));
}

// Fragments whose every combination the two loops must agree on: line ends
// of each kind, empty and blank lines, NULs, unclosed and nested cards.
TEST(UploadReaderTest, SameAsLineLoopOnGeneratedTexts) {
  const std::vector<std::string> fragments = {
      "BEGIN:VCARD", "END:VCARD", " end:vcard ", "FN:a", "TEL;WORK:1", "", " ", "\r\n", "\r",
      "\n", "\r\r\n", "\0"s, "NOTE;QUOTED-PRINTABLE:a=", "b", " folded", "\xEF\xBB\xBF" "BEGIN:VCARD",
      "junk", "VERSION:3.0", "--boundary"};
  std::mt19937 random(20240301);
  for (int round = 0; round < 3000; ++round) {
    std::string raw;
    const int pieces = static_cast<int>(random() % 14);
    for (int k = 0; k < pieces; ++k) {
      raw += fragments[random() % fragments.size()];
      if (random() % 3 != 0) raw += "\r\n";
    }
    ASSERT_EQ(PassesOfLineLoop(raw), PassesOfReader(raw)) << raw;
  }
}

// Every file of a card folder, alone and as the tail of a multipart post with
// the query text after it.
void ExpectSameAsLineLoopOnFilesIn(const std::string& dir) {
  for (const std::string& relative : test::CardFilesIn(dir)) {
    const std::string raw = test::ReadFile(dir + relative);
    EXPECT_EQ(PassesOfLineLoop(raw), PassesOfReader(raw)) << relative;
    const std::string posted = "--b\r\nContent-Type: text/x-vcard\r\n\r\n" + raw + "\r\n--b--";
    EXPECT_EQ(PassesOfLineLoop(posted), PassesOfReader(posted)) << relative;
  }
}

TEST(UploadReaderTest, SameAsLineLoopOnTestCards) {
  ASSERT_LE(14u, test::CardFilesIn(test::TestCardsDir()).size());
  ExpectSameAsLineLoopOnFilesIn(test::TestCardsDir());
}

TEST(UploadReaderTest, SameAsLineLoopOnCorpusFiles) {
  const std::string corpus = test::SharedCorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no shared corpus at " PELORIN_CORPUS_DIR "/vcards";
  EXPECT_EQ(150u, test::CardFilesIn(corpus).size());
  ExpectSameAsLineLoopOnFilesIn(corpus);
}

std::string Utf16(std::string_view ascii, bool big_endian) {
  std::string out;
  for (char c : ascii) {
    out += big_endian ? "\0"s + c : std::string(1, c) + '\0';
  }
  return out;
}

TEST(UploadTextTest, Utf16IsDecodedBeforeCardsAreCut) {
  const std::string card = "BEGIN:VCARD\r\nFN:a\r\nEND:VCARD\r\n";
  const struct { const char* what; std::string raw; } cases[] = {
      {"little-endian with mark", "\xFF\xFE" + Utf16(card, false)},
      {"big-endian with mark", "\xFE\xFF" + Utf16(card, true)},
      {"big-endian, no mark", Utf16(card, true)},
      {"little-endian, no mark, lower case", Utf16("begin:vcard\r\nFN:a\r\nEND:VCARD\r\n", false)},
      {"part of a multipart body",
       "--b\r\nContent-Disposition: form-data; name=\"vcfupload\"\r\n\r\n\xFF\xFE" +
           Utf16(card, false) + "\r\n--b--\r\n"},
  };
  for (const auto& c : cases) {
    const TPasses passes = PassesOfReader(c.raw);
    ASSERT_FALSE(passes.empty()) << c.what;
    EXPECT_EQ(kRecordA, passes.front()) << c.what;
    EXPECT_EQ(PassesOfLineLoop(c.raw), passes) << c.what;
  }
}

TEST(UploadTextTest, DecodesCharactersOutsideAsciiAndRepairsSurrogates) {
  // "Ü" and U+1F600 as a surrogate pair, then an unpaired surrogate.
  const std::string le = "\xFF\xFE" "F\0N\0:\0\xDC\0\x3D\xD8\x00\xDE\x00\xD8x\0"s;
  EXPECT_EQ("FN:\xC3\x9C\xF0\x9F\x98\x80\xEF\xBF\xBDx", DecodeUploadText(le));
  EXPECT_EQ("a", DecodeUploadText("\xFE\xFF\0a\x01"s));  // an odd last byte is dropped
  EXPECT_EQ("caf\xE9\r\n\xFEx", DecodeUploadText("caf\xE9\r\n\xFEx"));  // no mark: unchanged
}

TEST(UploadTextTest, LinesEndAtCrLfOrCrLfAndNul) {
  using TLines = std::vector<std::string>;
  EXPECT_EQ((TLines{"a", "b", "", "c", ""}), SplitUploadLines("a\r\nb\r\rc\n\n"));
  EXPECT_EQ((TLines{"a"}), SplitUploadLines("a\r\n"));
  EXPECT_EQ((TLines{""}), SplitUploadLines("\r\n"));
  EXPECT_EQ((TLines{"a", ""}), SplitUploadLines("a\n\r"));
  EXPECT_EQ((TLines{"a"}), SplitUploadLines("a\0\r\nb"s));
  EXPECT_EQ(TLines{}, SplitUploadLines(""));
}

TEST(UploadReaderTest, Utf8MarkDoesNotHideTheCard) {
  EXPECT_EQ(TPasses{kRecordA}, PassesOfReader("\xEF\xBB\xBF" + kCardA));
  EXPECT_EQ((TPasses{kRecordA, kRecordA}),
            PassesOfReader(kCardA + "\r\n\xEF\xBB\xBF" + kCardA));
}

}  // namespace
}  // namespace pelorin
