// Pages, files and record commands of the real executable over the wire: the
// prologs and types as headers and bytes, a GIF's bytes, the not-found body, an
// empty file, a multipart upload and the cross-site refusal.
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>
#include <string>

#include <gtest/gtest.h>

#include "tests/http/server_process.h"

namespace pelorin::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kUsers[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xUser>"
    "<User><USER>bob</USER><PASSWORD>pw</PASSWORD><NAME>Bob</NAME></User>"
    "</xUser>";
constexpr char kCards[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase>"
    "<vCard><FN>M\xc3\xbcller</FN><OWNER>bob</OWNER><ID>1</ID></vCard></xBase>";
constexpr char kXhtmlProlog[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 "
    "Transitional//EN\" \"DTD/xhtml1-transitional.dtd\">";
constexpr char kWmlProlog[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><!DOCTYPE wml PUBLIC \"-//WAPFORUM//DTD WML 1.1//EN\" "
    "\"http://www.wapforum.org/DTD/wml_1.1.xml\">";

std::string Fixture(const std::string& name) { return std::string(PELORIN_TEST_DATA_DIR) + "/pages/" + name; }

std::string Base64(const std::string& text) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 3) {
    unsigned n = static_cast<unsigned char>(text[i]) << 16;
    if (i + 1 < text.size()) n |= static_cast<unsigned char>(text[i + 1]) << 8;
    if (i + 2 < text.size()) n |= static_cast<unsigned char>(text[i + 2]);
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < text.size() ? kDigits[(n >> 6) & 63] : '=';
    out += i + 2 < text.size() ? kDigits[n & 63] : '=';
  }
  return out;
}

class PagesProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(app_.File("config/config.xml"), TAppDir::ConfigWithPort(port_));
    WriteFile(app_.File("pelorin/base.xml"), kCards);
    WriteFile(app_.File("user/user.xml"), kUsers);
    fs::copy_file(Fixture("show.xsl"), app_.File("pelorin/index.htm.xsl"));
    fs::copy_file(Fixture("show.xsl"), app_.File("pelorin/index.wml.xsl"));
    fs::copy_file(Fixture("export.xsl"), app_.File("pelorin/export.vcf.xsl"));
    fs::copy_file(Fixture("dot.gif"), app_.File("pelorin/dot.gif"));
    WriteFile(app_.File("pelorin/empty.css"), "");
    server_ = std::make_unique<TServerProcess>(app_.Executable(), std::vector<std::string>{"PELORIN_SAVE_INTERVAL_MS=200"});
    ASSERT_TRUE(server_->WaitForPort(port_)) << app_.LogText();
  }

  // A POST with a body of its own type and extra header lines.
  THttpAnswer RawPost(const std::string& target, const std::string& type, const std::string& body,
                      const std::string& extra_headers = "") {
    const std::string request = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                                "\r\nConnection: close\r\nAuthorization: Basic " + Base64("bob:pw") +
                                "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
                                "\r\n" + extra_headers + "\r\n" + body;
    return ParseAnswer(Exchange(port_, request));
  }

  TAppDir app_;
  std::uint16_t port_ = FreePort();
  std::unique_ptr<TServerProcess> server_;
};

TEST_F(PagesProcessTest, RenderedPagesCarryTheirPrologAndType) {
  const THttpAnswer page = Request(port_, "GET", "/pelorin/index.htm?q=ll", "bob", "pw");
  EXPECT_EQ(200, page.Status);
  EXPECT_EQ("text/html", HeaderOf(page, "Content-Type"));
  EXPECT_EQ("max-age=0", HeaderOf(page, "Cache-Control"));
  EXPECT_TRUE(page.Body.starts_with(std::string(kXhtmlProlog) + "<html>")) << page.Body;
  EXPECT_NE(std::string::npos, page.Body.find("q=[ll]"));
  EXPECT_NE(std::string::npos, page.Body.find("<i>M&#252;ller</i>"));
  EXPECT_EQ(std::to_string(page.Body.size()), HeaderOf(page, "Content-Length"));

  const THttpAnswer deck = Request(port_, "GET", "/pelorin/index.wml", "bob", "pw");
  EXPECT_EQ("text/vnd.wap.wml", HeaderOf(deck, "Content-Type"));
  EXPECT_TRUE(deck.Body.starts_with(std::string(kWmlProlog) + "<html>")) << deck.Body;

  const THttpAnswer vcf = Request(port_, "GET", "/pelorin/export.vcf?USER=nobody", "bob", "pw");
  EXPECT_EQ("text/x-vcard; charset=UTF-8", HeaderOf(vcf, "Content-Type"));
  EXPECT_EQ("FN:M\xC3\xBCller\r\n<?XML VERSION=\"1.0\" ENCODING=\"UTF-16\"?>", vcf.Body);
}

TEST_F(PagesProcessTest, StaticFilesAsBytes) {
  const std::string gif = ReadFile(Fixture("dot.gif"));
  const THttpAnswer image = Request(port_, "GET", "/pelorin/dot.gif", "bob", "pw");
  EXPECT_EQ(200, image.Status);
  EXPECT_EQ(gif, image.Body);
  EXPECT_EQ(std::to_string(gif.size()), HeaderOf(image, "Content-Length"));
  EXPECT_EQ("image/gif", HeaderOf(image, "Content-Type"));

  const THttpAnswer missing = Request(port_, "GET", "/pelorin/missing.css", "bob", "pw");
  EXPECT_EQ(404, missing.Status);
  EXPECT_EQ("File '" + app_.File("pelorin/missing.css") + "' not found", missing.Body);

  const THttpAnswer empty = Request(port_, "GET", "/pelorin/empty.css", "bob", "pw");
  EXPECT_EQ(200, empty.Status);
  EXPECT_EQ("", empty.Body);
  EXPECT_EQ("", HeaderOf(empty, "Content-Length"));
}

TEST_F(PagesProcessTest, MultipartUploadIsSavedAfterTheInterval) {
  const std::string body =
      "--b0undary\r\nContent-Disposition: form-data; name=\"vcfupload\"; filename=\"cards.vcf\"\r\n"
      "Content-Type: text/x-vcard\r\n\r\n"
      "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Wire One\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Wire Two\r\nEND:VCARD\r\n"
      "\r\n--b0undary--\r\n";
  const THttpAnswer answer = RawPost("/pelorin/import.htm", "multipart/form-data; boundary=b0undary", body);
  EXPECT_EQ(302, answer.Status);
  EXPECT_EQ("importedmsg.htm", HeaderOf(answer, "Location"));
  ASSERT_TRUE(WaitForFileText(app_, "pelorin/base.xml", "Wire Two"));
  const std::string saved = ReadFile(app_.File("pelorin/base.xml"));
  EXPECT_LT(saved.find("Wire One"), saved.find("Wire Two"));
}

TEST_F(PagesProcessTest, CrossSitePostIsRefusedAndSameSitePostServed) {
  const std::string form = "xPath=%2F*%2FvCard&Command=delete&Redirect=index.htm";
  const THttpAnswer refused =
      RawPost("/pelorin/index.htm", "application/x-www-form-urlencoded", form, "Origin: http://evil.example\r\n");
  EXPECT_EQ(403, refused.Status);
  EXPECT_EQ("Cross-site request refused.", refused.Body);
  // The listener speaks plain HTTP, so a page of the same host over HTTPS is another site.
  const THttpAnswer other_scheme = RawPost("/pelorin/index.htm", "application/x-www-form-urlencoded", form,
                                           "Origin: https://127.0.0.1:" + std::to_string(port_) + "\r\n");
  EXPECT_EQ(403, other_scheme.Status);
  EXPECT_EQ(200, Request(port_, "GET", "/pelorin/index.htm", "bob", "pw").Status);
  EXPECT_NE(std::string::npos, Request(port_, "GET", "/pelorin/index.htm", "bob", "pw").Body.find("M&#252;ller"));

  const THttpAnswer served = RawPost("/pelorin/index.htm", "application/x-www-form-urlencoded", form,
                                     "Origin: http://127.0.0.1:" + std::to_string(port_) + "\r\n");
  EXPECT_EQ(302, served.Status);
  EXPECT_EQ(std::string::npos, Request(port_, "GET", "/pelorin/index.htm", "bob", "pw").Body.find("M&#252;ller"));
}

TEST_F(PagesProcessTest, PostWithoutRedirectSendsNoLocation) {
  const THttpAnswer answer = Request(port_, "POST", "/pelorin/index.htm", "bob", "pw", "Command=none");
  EXPECT_EQ(302, answer.Status);
  EXPECT_EQ("", HeaderOf(answer, "Location"));
}

}  // namespace
}  // namespace pelorin::testing
