// The import report and the confirmation of its undo, rendered over the
// document the service gives them: the import's cards that still exist and
// the IMPORT element.
#include <gtest/gtest.h>

#include <string>

#include "tests/app/page_renderer.h"
#include "web/import_report.h"

namespace pelorin::testing {
namespace {

constexpr char kStillThere[] = "<vCard><FN>One</FN><OWNER>alice</OWNER><ID>500</ID></vCard>";

TUploadReport SampleReport() {
  TUploadReport report;
  report.Cards = 3;
  report.Added.push_back({1, "One", "500", "", {"text in the character set ISO-8859-1 was converted to UTF-8"}});
  report.Added.push_back({2, "Two", "501", "", {}});  // deleted since
  report.Refused.push_back({3, "Bad <x>", "", "it is not well-formed XML", {}});
  return report;
}

std::string StoreWith(const TUploadReport& report) {
  return std::string("<xBase>") + kStillThere + ImportReportXml(report, 7) + "</xBase>";
}

TParsedPage RenderPage(const std::string& page, const std::string& store) {
  TPageRenderer renderer;
  const TRendered r = renderer.Render(page, store, {});
  EXPECT_EQ("", r.errors);
  return TParsedPage(kXhtmlProlog, r.output);
}

TEST(ImportReportPage, CountsLinksTheNewCardsAndListsTheRefusedOnes) {
  const TParsedPage page = RenderPage("pelorin/importedmsg.htm", StoreWith(SampleReport()));
  ASSERT_TRUE(page.ok()) << page.errors();
  const std::string text = page.BodyText();
  EXPECT_NE(std::string::npos, text.find("2 cards of 3 came in; 1 could not be taken")) << text;
  EXPECT_NE(std::string::npos, text.find("You now have 7 cards.")) << text;
  EXPECT_EQ("One", page.Value("string(//h:table[@class='import-added']//h:a[@href='card.htm?ID=500'])"));
  EXPECT_NE(std::string::npos, text.find("Two (deleted since)")) << text;
  EXPECT_NE(std::string::npos, text.find("converted to UTF-8")) << text;
  EXPECT_EQ("3", page.Value("string(//h:table[@class='import-refused']//h:tr[h:td][1]/h:td[1])"));
  EXPECT_EQ("Bad <x>", page.Value("string(//h:table[@class='import-refused']//h:tr[h:td][1]/h:td[2])"));
  EXPECT_EQ("it is not well-formed XML",
            page.Value("string(//h:table[@class='import-refused']//h:tr[h:td][1]/h:td[3])"));
  EXPECT_EQ(1, page.Count("//h:a[@href='undoimport.htm']"));
  EXPECT_EQ(1, page.Count("//h:a[@href='index.htm']"));
}

TEST(ImportReportPage, AnUndoneImportOrNoneOffersNoUndo) {
  TUploadReport undone = SampleReport();
  undone.Undone = true;
  const TParsedPage after = RenderPage("pelorin/importedmsg.htm", "<xBase>" + ImportReportXml(undone, 5) + "</xBase>");
  ASSERT_TRUE(after.ok()) << after.errors();
  EXPECT_NE(std::string::npos, after.BodyText().find("This import was undone"));
  EXPECT_EQ(0, after.Count("//h:a[@href='undoimport.htm']"));
  const TParsedPage none = RenderPage("pelorin/importedmsg.htm", "<xBase/>");
  ASSERT_TRUE(none.ok()) << none.errors();
  EXPECT_NE(std::string::npos, none.BodyText().find("There is no import to report"));
}

TEST(UndoImportPage, NamesWhatTheUndoRemovesAndPostsIt) {
  const TParsedPage page = RenderPage("pelorin/undoimport.htm", StoreWith(SampleReport()));
  ASSERT_TRUE(page.ok()) << page.errors();
  const std::string text = page.BodyText();
  EXPECT_NE(std::string::npos, text.find("Undo removes the 1 card this import added")) << text;
  EXPECT_EQ("One", page.Value("string(//h:ul[@class='undo-list']/h:li)"));
  EXPECT_NE(std::string::npos, text.find("1 of its cards you deleted since")) << text;
  EXPECT_EQ(1, page.Count("//h:form[@method='post'][@action='importedmsg.htm']"
                          "[.//h:input[@name='Command'][@value='undoimport']]"));
  const TParsedPage nothing = RenderPage("pelorin/undoimport.htm", "<xBase/>");
  ASSERT_TRUE(nothing.ok());
  EXPECT_EQ(0, nothing.Count("//h:form"));
}

}  // namespace
}  // namespace pelorin::testing
