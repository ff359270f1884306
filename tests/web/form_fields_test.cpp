#include "web/form_fields.h"

#include <gtest/gtest.h>

namespace pelorin {
namespace {

TEST(JoinRawParamsTest, BodyThenCrLfThenQuery) {
  const struct { const char* body; const char* query; const char* want; } cases[] = {
      {"", "", ""},
      {"a=1", "", "a=1"},
      {"", "q=2", "q=2"},
      {"a=1", "q=2", "a=1\r\nq=2"},
      {"a=1\r\n", "q=2", "a=1\r\n\r\nq=2"},
      {"&", "&", "&\r\n&"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, JoinRawParams(c.body, c.query)) << c.body << "|" << c.query;
}

TEST(DecodeFormPieceTest, PlusThenPercentPairs) {
  const struct { std::string piece; std::string want; } cases[] = {
      {"a+b", "a b"},
      {"%41%62", "Ab"},
      {"%2b", "+"},              // a decoded plus stays a plus
      {"%2B%2b", "++"},
      {"%00x", "x"},             // value 0 drops the three characters
      {"%zzx", "x"},
      {"%4gx", "x"},
      {"%g4x", "x"},
      {"%+4x", "x"},             // the plus is already a space: not hexadecimal
      {"%-1x", "x"},
      {"x%4", "x%4"},            // fewer than two characters follow: copied
      {"x%", "x%"},
      {"%", "%"},
      {"%%41", "1"},             // "%%4" is a broken pair; the "1" is copied
      {"%FF", "\xFF"},
      {"%01", "\x01"},
      {"%0D%0A", "\r\n"},
      {"name=a%3Db", "name=a=b"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, DecodeFormPiece(c.piece)) << c.piece;
}

TEST(SplitFormFieldsTest, SplitBeforeDecode) {
  const struct { std::string raw; std::vector<std::string> want; } cases[] = {
      {"", {}},
      {"a=1", {"a=1"}},
      {"a=1&b=2", {"a=1", "b=2"}},
      {"a=1&&b=2", {"a=1", "", "b=2"}},
      {"&", {"", ""}},
      {"a=1&", {"a=1", ""}},
      {"x=a%26b&y=2", {"x=a&b", "y=2"}},  // an encoded ampersand stays in its value
      {"x=%26", {"x=&"}},
      {"n%3D1=v", {"n=1=v"}},
      {"Command=insert+delete", {"Command=insert delete"}},
      {"a=%00&b=%zz", {"a=", "b="}},
      {"a=1\r\nq=2&r=3", {"a=1\r\nq=2", "r=3"}},  // body and query meet inside one entry
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, SplitFormFields(c.raw)) << c.raw;
}

}  // namespace
}  // namespace pelorin
