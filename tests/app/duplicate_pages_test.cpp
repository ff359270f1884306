// The duplicates page and the merge confirmation, rendered over the
// documents the service gives them.
#include <gtest/gtest.h>

#include <string>

#include "tests/app/page_renderer.h"
#include "web/card_duplicates.h"
#include "xml/record_tree.h"

namespace pelorin::testing {
namespace {

constexpr char kAnna[] = "<vCard><FN>Anna Berg</FN><TEL><NUMBER>111111</NUMBER></TEL><OWNER>alice</OWNER><ID>10</ID></vCard>";
constexpr char kAnna2[] =
    "<vCard><FN>Anna Lind</FN><PHOTO><TYPE>image/png</TYPE><BINVAL>QUJD</BINVAL></PHOTO><OWNER>alice</OWNER><ID>11</ID></vCard>";

TParsedPage RenderPage(const std::string& page, const std::string& store, const std::vector<std::string>& fields) {
  TPageRenderer renderer;
  const TRendered r = renderer.Render(page, store, fields);
  EXPECT_EQ("", r.errors);
  return TParsedPage(kXhtmlProlog, r.output);
}

TEST(DuplicatesPage, ListsEachGroupWithWhyAndAMergeLink) {
  const std::string store = std::string("<xBase>") + kAnna + kAnna2 +
                            "<DUPLICATES><GROUP><WHY><KIND>name</KIND><VALUE>Anna Berg</VALUE></WHY>"
                            "<CARD>10</CARD><CARD>11</CARD></GROUP></DUPLICATES></xBase>";
  const TParsedPage page = RenderPage("pelorin/duplicates.htm", store, {});
  ASSERT_TRUE(page.ok()) << page.errors();
  EXPECT_EQ("same name: Anna Berg", page.Value("normalize-space(//h:p[@class='duplicate-why'])"));
  EXPECT_EQ(1, page.Count("//h:a[@href='card.htm?ID=10']"));
  EXPECT_EQ(1, page.Count("//h:a[@href='mergecards.htm?ID=10&OTHER=11']"));
  const TParsedPage none = RenderPage("pelorin/duplicates.htm", "<xBase><DUPLICATES/></xBase>", {});
  ASSERT_TRUE(none.ok());
  EXPECT_NE(std::string::npos, none.BodyText().find("No two of your cards"));
}

TEST(MergePage, ShowsTheMergedCardAndPostsTheTwoIds) {
  const TRecordElement merged = MergedCard(*RecordTreeFromXml(kAnna), *RecordTreeFromXml(kAnna2));
  const std::string store = std::string("<xBase>") + kAnna + kAnna2 + "<MERGE><KEEP>10</KEEP><OTHER>11</OTHER>" +
                            RecordXml(merged) + "</MERGE></xBase>";
  const TParsedPage page = RenderPage("pelorin/mergecards.htm", store, {"ID=10", "OTHER=11"});
  ASSERT_TRUE(page.ok()) << page.errors();
  const std::string text = page.BodyText();
  EXPECT_NE(std::string::npos, text.find("Anna Lind")) << text;  // kept as a nickname
  EXPECT_NE(std::string::npos, text.find("(image/png data)")) << text;
  EXPECT_EQ(std::string::npos, text.find("QUJD")) << "picture data is not shown";
  EXPECT_EQ(1, page.Count("//h:form[@method='post'][@action='mergecards.htm'][.//h:input[@name='Command'][@value='merge']]"
                          "[.//h:input[@name='ID'][@value='10']][.//h:input[@name='OTHER'][@value='11']]"));
  const TParsedPage gone = RenderPage("pelorin/mergecards.htm", std::string("<xBase>") + kAnna + "</xBase>",
                                      {"ID=10", "OTHER=11"});
  ASSERT_TRUE(gone.ok());
  EXPECT_EQ(0, gone.Count("//h:form"));
}

}  // namespace
}  // namespace pelorin::testing
