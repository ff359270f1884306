// Rendering a store through a stylesheet: markup or text results, string
// parameters, and how failures are reported.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/xml/dom_fixture.h"
#include "xml/quickdom.h"

namespace pelorin::testing {
namespace {

class TransformTest : public DomTest {
 protected:
  void SetUp() override {
    Load("<xBase><vCard><FN>J\xC3\xBCrgen &amp; Ann</FN></vCard><vCard><FN>Bob</FN></vCard></xBase>");
  }
  static std::string Sheet(const std::string& name) {
    return std::string(PELORIN_TEST_DATA_DIR) + "/xsl/" + name;
  }
  std::string Render(const std::string& sheet, const std::vector<std::string>* params = nullptr) {
    std::string result, errors;
    dom_.Transform(Sheet(sheet), params, result, errors);
    EXPECT_EQ("", errors) << sheet;
    return result;
  }
};

TEST_F(TransformTest, ElementFirstGivesMarkupWithComments) {
  EXPECT_EQ("<html><body><!-- cards --><p>2</p><div></div><br/></body></html>",
            Render("html_comment.xsl"));
}

TEST_F(TransformTest, TextFirstGivesTheTextOfEverything) {
  EXPECT_EQ("FN:J\xC3\xBCrgen & Ann\r\nFN:Bob\r\ninside an element", Render("text_only.xsl"));
}

TEST_F(TransformTest, CommentFirstWrapsEverythingInRoot) {
  EXPECT_EQ("<root><!--lead--><html><p>x</p></html>after</root>", Render("comment_first.xsl"));
}

TEST_F(TransformTest, OutputAfterTopLevelElementStaysAtTopLevel) {
  EXPECT_EQ("<a>1</a>\r\ntail\r\n<!--c-->", Render("after_element.xsl"));
}

TEST_F(TransformTest, MarkupIsAsciiAndCdataIsBare) {
  EXPECT_EQ("<html><script>if (a < b && c) go();</script><p>J&#252;rgen &amp; Ann</p></html>",
            Render("cdata_script.xsl"));
}

TEST_F(TransformTest, FirstLineOfANameGivesItsValue) {
  const std::vector<std::string> params = {
      "user=from request",  // a request field shadows the line appended later
      "xPath=/a[b='c']",
      "USER=ann",
      "NAME=Ann \"The\" O'Brien",
      "ADMIN=concat('a','b')",  // never evaluated
      "bad name=x",
      "=no name",
      "user=again",
  };
  EXPECT_EQ(
      "USER=from request|user=from request|NAME=Ann \"The\" O'Brien|ADMIN=concat('a','b')",
      Render("params.xsl", &params));
  EXPECT_EQ("USER=default|user=default|NAME=default|ADMIN=default", Render("params.xsl"));
}

TEST_F(TransformTest, NothingLeaksFromOneTransformToTheNext) {
  const std::vector<std::string> params = {"USER=ann"};
  EXPECT_EQ("USER=ann|user=default|NAME=default|ADMIN=default", Render("params.xsl", &params));
  EXPECT_EQ("<html><body><!-- cards --><p>2</p><div></div><br/></body></html>",
            Render("html_comment.xsl"));
  EXPECT_EQ("USER=default|user=default|NAME=default|ADMIN=default", Render("params.xsl"));
}

TEST_F(TransformTest, UnreadableOrIllFormedStylesheetThrows) {
  for (const char* sheet : {"missing.xsl", "broken.xsl"}) {
    std::string result = "stale", errors = "stale";
    EXPECT_THROW(dom_.Transform(Sheet(sheet), nullptr, result, errors), std::runtime_error);
    EXPECT_EQ("", result) << sheet;
    EXPECT_EQ("", errors) << sheet;
  }
}

TEST_F(TransformTest, FailuresWhileApplyingAreReturnedAsText) {
  for (const char* sheet : {"runtime_error.xsl", "not_xslt.xsl"}) {
    std::string result = "stale", errors;
    EXPECT_NO_THROW(dom_.Transform(Sheet(sheet), nullptr, result, errors));
    EXPECT_EQ("", result) << sheet;
    ASSERT_GE(errors.size(), 2u) << sheet;
    EXPECT_EQ("\r\n", errors.substr(errors.size() - 2)) << sheet;
    EXPECT_EQ(std::string::npos, errors.find("\r\r")) << sheet;
    for (size_t at = errors.find('\n'); at != std::string::npos; at = errors.find('\n', at + 1)) {
      EXPECT_EQ('\r', errors[at - 1]) << sheet << ": every line ends with CR LF";
    }
  }
  std::string result, errors;
  dom_.Transform(Sheet("runtime_error.xsl"), nullptr, result, errors);
  EXPECT_NE(std::string::npos, errors.find("card list unavailable"));
}

TEST_F(TransformTest, StylesheetsCannotWriteFilesOrUseTheNetwork) {
  const std::string target = dir_.File("stolen.txt");
  const std::vector<std::string> params = {"TARGET=" + target};
  std::string result, errors;
  dom_.Transform(Sheet("write_file.xsl"), &params, result, errors);
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_FALSE(errors.empty());
  dom_.Transform(Sheet("read_network.xsl"), nullptr, result, errors);
  EXPECT_TRUE(result.empty() || result == "<html>0</html>") << result;
}

}  // namespace
}  // namespace pelorin::testing

namespace pelorin::testing {
namespace {

// A stylesheet that writes one word, so tests can tell versions apart.
std::string WordSheet(const std::string& word) {
  return "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
         "<xsl:output method=\"text\"/><xsl:template match=\"/\">" + word +
         "</xsl:template></xsl:stylesheet>";
}

class StylesheetCacheTest : public DomTest {
 protected:
  void SetUp() override { Load("<r/>"); }
  std::string Render() {
    std::string result, errors;
    dom_.Transform(sheet_, nullptr, result, errors);
    return errors.empty() ? result : "error";
  }
  // Rewrites the file in place with a different modification time, the way
  // an editor saving over it does.
  void Rewrite(const std::string& content, long seconds) {
    WriteFile(sheet_, content);
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, sheet_.c_str(), times, 0));
  }
  const std::string sheet_ = dir_.File("page.htm.xsl");
};

TEST_F(StylesheetCacheTest, ChangedFileIsUsedFromTheNextRequestOn) {
  for (bool caching : {true, false}) {
    dom_.SetStylesheetCaching(caching);
    Rewrite(WordSheet("one"), 1000);
    EXPECT_EQ("one", Render());
    EXPECT_EQ("one", Render());
    Rewrite(WordSheet("two"), 2000);  // same size, new time
    EXPECT_EQ("two", Render());
    const std::string replacement = dir_.File("new.xsl");
    WriteFile(replacement, WordSheet("three"));
    ASSERT_EQ(0, ::rename(replacement.c_str(), sheet_.c_str()));  // replaced by rename
    EXPECT_EQ("three", Render());
  }
}

TEST_F(StylesheetCacheTest, ChangedIncludeIsUsedFromTheNextRequestOn) {
  const std::string part = dir_.File("part.xsl");
  auto write_part = [&](const std::string& word, long seconds) {
    WriteFile(part, "<xsl:stylesheet version=\"1.0\" "
                    "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                    "<xsl:template name=\"word\">" + word + "</xsl:template></xsl:stylesheet>");
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, part.c_str(), times, 0));
  };
  write_part("one", 1000);
  Rewrite("<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
          "<xsl:include href=\"part.xsl\"/><xsl:output method=\"text\"/>"
          "<xsl:template match=\"/\"><xsl:call-template name=\"word\"/></xsl:template>"
          "</xsl:stylesheet>",
          1000);
  EXPECT_EQ("one", Render());
  write_part("two", 2000);  // only the included file changes
  EXPECT_EQ("two", Render());
}

TEST_F(StylesheetCacheTest, BrokenOrMissingFileGivesItsErrorEveryTime) {
  Rewrite(WordSheet("good"), 1000);
  EXPECT_EQ("good", Render());
  Rewrite("<xsl:stylesheet", 2000);
  EXPECT_THROW(Render(), std::runtime_error);
  EXPECT_THROW(Render(), std::runtime_error);
  Rewrite(WordSheet("again"), 3000);
  EXPECT_EQ("again", Render());
  std::filesystem::remove(sheet_);
  EXPECT_THROW(Render(), std::runtime_error);
}

}  // namespace
}  // namespace pelorin::testing
