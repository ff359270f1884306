// Rendering a store through a stylesheet: markup or text results, string
// parameters, and how failures are reported.
#include <gtest/gtest.h>

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
