#include "web/request_info.h"

#include <gtest/gtest.h>

namespace pelorin {
namespace {

TEST(SetStatusTest, PhraseFollowsCode) {
  const struct { int code; const char* want; } cases[] = {
      {200, "OK"},
      {302, "Moved Temporarily"},  // not the newer "Found"
      {401, "Unauthorized"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {413, "Payload Too Large"},
      {500, "Internal Server Error"},
      {301, "Moved Permanently"},
      {503, "Service Unavailable"},
      {299, "Unknown Response Code"},
      {0, "Unknown Response Code"},
      {-200, "Unknown Response Code"},
  };
  for (const auto& c : cases) {
    ResponseInfo response;
    response.SetStatus(c.code);
    EXPECT_EQ(c.code, response.StatusCode);
    EXPECT_EQ(c.want, response.StatusText) << c.code;
  }
}

TEST(ResponseInfoTest, StartsAsEmptyHtmlOk) {
  const ResponseInfo response;
  EXPECT_EQ(200, response.StatusCode);
  EXPECT_EQ("OK", response.StatusText);
  EXPECT_EQ("text/html", response.BodyType);
  EXPECT_TRUE(response.Body.empty());
  EXPECT_TRUE(response.Realm.empty());
  EXPECT_TRUE(response.ExtraHeaders.empty());
}

TEST(RedirectToTest, TargetIsSentUnchanged) {
  ResponseInfo response;
  response.AddRawHeader("Cache-Control: max-age=0");
  response.RedirectTo("../pelorin/index.htm");
  EXPECT_EQ(302, response.StatusCode);
  EXPECT_EQ("Moved Temporarily", response.StatusText);
  EXPECT_EQ((std::vector<std::string>{"Cache-Control: max-age=0", "Location: ../pelorin/index.htm"}),
            response.ExtraHeaders);
}

TEST(RedirectToTest, ControlBytesAndDeleteArePercentEncoded) {
  const struct {
    std::string target;
    const char* want;
  } cases[] = {
      {"a.htm\r\nSet-Cookie: x=1", "Location: a.htm%0D%0ASet-Cookie: x=1"},
      {std::string("a\0b", 3), "Location: a%00b"},
      {"\x01\x1f\x7f", "Location: %01%1F%7F"},
      {"tab\there", "Location: tab%09here"},
      {"\x1b[31m", "Location: %1B[31m"},
      // Near misses: space, "~" and the bytes above DEL are no control bytes, and
      // a target already encoded keeps its "%".
      {"a b~c", "Location: a b~c"},
      {"caf\xc3\xa9\x80\xff.htm", "Location: caf\xc3\xa9\x80\xff.htm"},
      {"index.htm%0D%0A", "Location: index.htm%0D%0A"},
      {"\r", "Location: %0D"},  // a target of control bytes alone still redirects somewhere
  };
  for (const auto& c : cases) {
    ResponseInfo response;
    response.RedirectTo(c.target);
    EXPECT_EQ(std::vector<std::string>{c.want}, response.ExtraHeaders) << c.want;
  }
}

TEST(RedirectToTest, EmptyTargetGivesNoLocation) {
  ResponseInfo response;
  response.RedirectTo("");
  EXPECT_EQ(302, response.StatusCode);
  EXPECT_TRUE(response.ExtraHeaders.empty());
}

TEST(RedirectToTest, SecondRedirectReplacesTheFirst) {
  ResponseInfo response;
  response.RedirectTo("a.htm");
  response.RedirectTo("b.htm");
  EXPECT_EQ(std::vector<std::string>{"Location: b.htm"}, response.ExtraHeaders);
  response.RedirectTo("");  // an empty target also takes away the earlier one
  EXPECT_TRUE(response.ExtraHeaders.empty());
}

TEST(SetHeaderTest, ReplacesAppendsAndRemovesByName) {
  const struct {
    std::vector<std::string> before;
    const char* name;
    const char* value;
    std::vector<std::string> want;
  } cases[] = {
      {{}, "Location", "x", {"Location: x"}},
      {{"A: 1", "location: old", "B: 2"}, "Location", "x", {"A: 1", "Location: x", "B: 2"}},
      {{"LOCATION: 1", "Location: 2"}, "location", "x", {"location: x", "Location: 2"}},  // first only
      {{"Locations: 1"}, "Location", "x", {"Locations: 1", "Location: x"}},  // longer name is another
      {{"Location 1"}, "Location", "x", {"Location 1", "Location: x"}},      // no colon, no name
      {{"A: 1", "Location: 1", "Location: 2"}, "Location", "", {"A: 1", "Location: 2"}},
      {{"A: 1"}, "Location", "", {"A: 1"}},
  };
  for (const auto& c : cases) {
    ResponseInfo response;
    response.ExtraHeaders = c.before;
    response.SetHeader(c.name, c.value);
    EXPECT_EQ(c.want, response.ExtraHeaders) << c.name << "=" << c.value;
  }
}

TEST(FieldValueTest, FirstEntryOfThatNameInAnyCase) {
  const std::vector<std::string> fields = {"xPath=/vCard[1]", "Command=insert", "command=delete", "XML=<a b=\"1\"/>",
                                           "Flag",           "Empty=",         "=anonymous",     "Redirect==x"};
  const struct { const char* name; const char* want; } cases[] = {
      {"xPath", "/vCard[1]"},
      {"XPATH", "/vCard[1]"},
      {"Command", "insert"},   // a later duplicate is never seen
      {"XML", "<a b=\"1\"/>"},  // value keeps its own "="
      {"Flag", ""},            // no "=", no name
      {"Empty", ""},
      {"", "anonymous"},
      {"Redirect", "=x"},
      {"Comman", ""},
      {"Commands", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, FieldValue(fields, c.name)) << c.name;
}

TEST(HeaderValueTest, FirstLineOfThatNameTrimmed) {
  const std::vector<std::string> headers = {"Host: example.org:9555", "authorization:\t Basic abc \t",
                                            "X-Dup: one", "x-dup: two", "NoColon", "Empty:"};
  const struct { const char* name; const char* want; } cases[] = {
      {"host", "example.org:9555"}, {"Authorization", "Basic abc"}, {"X-DUP", "one"},
      {"NoColon", ""},              {"Empty", ""},                  {"Hos", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, HeaderValue(headers, c.name)) << c.name;
}

TEST(EqualsIgnoringCaseTest, AsciiLettersOnly) {
  EXPECT_TRUE(EqualsIgnoringCase("Basic", "bASIC"));
  EXPECT_FALSE(EqualsIgnoringCase("Basic", "Basi"));
  EXPECT_FALSE(EqualsIgnoringCase("\xC4", "\xE4"));  // Latin-1 letters compare exactly
  EXPECT_FALSE(EqualsIgnoringCase("@", "`"));        // neighbours of the letter ranges
  EXPECT_FALSE(EqualsIgnoringCase("[", "{"));
}

}  // namespace
}  // namespace pelorin
