#include "web/basic_auth.h"

#include <gtest/gtest.h>

namespace pelorin {
namespace {

TEST(DecodeBase64Test, ValidTexts) {
  const struct { std::string in; std::string want; } cases[] = {
      {"", ""},
      {"YQ==", "a"},
      {"YWI=", "ab"},
      {"YWJj", "abc"},
      {"YQ", "a"},                 // padding may be left out
      {"YWI", "ab"},
      {"YW Jj\r\n", "abc"},        // white space is skipped
      {"AP8=", std::string("\x00\xFF", 2)},
      {"+/+/", "\xFB\xFF\xBF"},
  };
  for (const auto& c : cases) {
    const auto decoded = DecodeBase64(c.in);
    ASSERT_TRUE(decoded.has_value()) << c.in;
    EXPECT_EQ(c.want, *decoded) << c.in;
  }
}

TEST(DecodeBase64Test, InvalidTexts) {
  for (const char* in : {"Y", "YWJjZ", "YQ===", "Y=Q=", "YQ==YQ==", "YW*j", "YW-j", "YW_j", "\x80QQQ", "YQ=\x01"}) {
    EXPECT_FALSE(DecodeBase64(in).has_value()) << in;
  }
}

TEST(DecodeBasicCredentialsTest, SplitAtFirstColon) {
  const struct { const char* header; const char* user; const char* password; } cases[] = {
      {"Basic dXNlcjpwYXNz", "user", "pass"},                 // user:pass
      {"basic dXNlcjpwYXNz", "user", "pass"},                 // scheme in any case
      {"BASIC dXNlcjpwYXNz", "user", "pass"},
      {"Basic dXNlcg==", "user", ""},                         // no colon: all is the user name
      {"Basic dXNlcjpwOmFzcw==", "user", "p:ass"},            // second colon is the password's
      {"Basic OnBhc3M=", "", "pass"},                         // ":pass"
      {"Basic Og==", "", ""},                                 // ":"
      {"Basic  dXNlcjpwYXNz", "user", "pass"},                // extra space skipped by the decoder
      {"Basic", "", ""},
      {"Basic ", "", ""},
      {"", "", ""},
      {"Basic dXNlcjpwYXNz!", "", ""},                        // not base64: no credentials
      {"Basic d", "", ""},
  };
  for (const auto& c : cases) {
    const TAuthorization auth = DecodeBasicCredentials(c.header);
    EXPECT_FALSE(auth.Refused) << c.header;
    EXPECT_EQ(c.user, auth.UserName) << c.header;
    EXPECT_EQ(c.password, auth.Password) << c.header;
  }
}

TEST(DecodeBasicCredentialsTest, OtherSchemesAreRefused) {
  for (const char* header : {"Digest x", "Bearer dXNlcjpwYXNz", "Basicx dXNlcjpwYXNz", "Basi dXNlcjpwYXNz",
                             "Basic\tdXNlcjpwYXNz", " Basic dXNlcjpwYXNz", "Negotiate"}) {
    const TAuthorization auth = DecodeBasicCredentials(header);
    EXPECT_TRUE(auth.Refused) << header;
    EXPECT_TRUE(auth.UserName.empty()) << header;
  }
}

}  // namespace
}  // namespace pelorin
