// CardDAV discovery and reading against the real executable, as the clients
// do it: the well-known name, OPTIONS, PROPFIND on the root, the principal,
// the home and the book at depth 0 and 1, GET of a card; the answers' shape
// that clients depend on (quoted ETags, the 200 propstat first, exact status
// lines), users kept apart, and request bodies refused when hostile.
#include <csignal>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/form_encode.h"
#include "tests/http/server_process.h"

namespace pelorin::testing {
namespace {

constexpr char kUsers[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xUser>"
    "<User><USER>Bob</USER><PASSWORD>pw</PASSWORD><NAME>Bob B</NAME></User>"
    "<User><USER>eve</USER><PASSWORD>pw2</PASSWORD><NAME>Eve</NAME></User>"
    "<User><USER>ann@example.org</USER><PASSWORD>pw3</PASSWORD><NAME>Ann</NAME></User>"
    "<User><USER>100%</USER><PASSWORD>pw4</PASSWORD><NAME>Literal</NAME></User></xUser>";
constexpr char kCards[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase>"
    "<vCard><FN>Ann &amp; Co</FN><N><FAMILY>Ann</FAMILY></N><OWNER>bob</OWNER><ID>11</ID></vCard>"
    "<vCard><FN>Eve's Card</FN><OWNER>eve</OWNER><ID>12</ID></vCard>"
    "<vCard><FN>Ben</FN><TEL><NUMBER>+41 1</NUMBER><CELL/></TEL><OWNER>bob</OWNER><ID>13</ID></vCard>"
    "</xBase>";
constexpr char kPropfindBook[] =
    "<?xml version=\"1.0\"?><d:propfind xmlns:d=\"DAV:\" xmlns:cs=\"http://calendarserver.org/ns/\" "
    "xmlns:x=\"urn:example\"><d:prop><d:resourcetype/><d:getetag/><cs:getctag/><x:unknown/></d:prop></d:propfind>";

std::string Dav(std::uint16_t port, const std::string& method, const std::string& path, const std::string& body,
                const std::string& depth, const std::string& user = "bob", const std::string& password = "pw") {
  std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
  if (!user.empty()) request += "Authorization: " + BasicCredentials(user, password) + "\r\n";
  if (!depth.empty()) request += "Depth: " + depth + "\r\n";
  request += "Content-Type: application/xml\r\nContent-Length: " + std::to_string(body.size()) +
             "\r\nConnection: close\r\n\r\n" + body;
  return Exchange(port, request);
}

std::vector<std::string> Matches(const std::string& text, const std::string& pattern) {
  std::vector<std::string> found;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it) {
    found.push_back((*it)[1]);
  }
  return found;
}

class DavTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(app_.File("config/config.xml"), TAppDir::ConfigWithPort(port_));
    WriteFile(app_.File("pelorin/base.xml"), kCards);
    WriteFile(app_.File("user/user.xml"), kUsers);
    server_ = std::make_unique<TServerProcess>(app_.Executable());
    ASSERT_TRUE(server_->WaitForPort(port_)) << app_.LogText();
  }
  THttpAnswer Ask(const std::string& method, const std::string& path, const std::string& body = "",
                  const std::string& depth = "0", const std::string& user = "bob", const std::string& password = "pw") {
    return ParseAnswer(Dav(port_, method, path, body, depth, user, password));
  }

  TAppDir app_;
  std::uint16_t port_ = FreePort();
  std::unique_ptr<TServerProcess> server_;
};

TEST_F(DavTest, DiscoveryLeadsFromTheWellKnownNameToTheBook) {
  const THttpAnswer well_known = Ask("PROPFIND", "/.well-known/carddav", "", "0", "", "");
  EXPECT_EQ(301, well_known.Status);
  EXPECT_EQ("/dav/", HeaderOf(well_known, "Location"));
  // Without credentials: the pages' challenge.
  const THttpAnswer anonymous = Ask("PROPFIND", "/dav/", "", "0", "", "");
  EXPECT_EQ(401, anonymous.Status);
  EXPECT_NE("", HeaderOf(anonymous, "WWW-Authenticate"));

  const THttpAnswer options = Ask("OPTIONS", "/dav/principals/bob/");
  EXPECT_EQ(200, options.Status);
  EXPECT_EQ("1, 3, addressbook", HeaderOf(options, "DAV"));
  EXPECT_NE(std::string::npos, HeaderOf(options, "Allow").find("PROPFIND"));

  const THttpAnswer root = Ask("PROPFIND", "/dav/");
  EXPECT_EQ(207, root.Status);
  // Each connection ends with its answer, and DAV clients must be told so.
  EXPECT_EQ("close", HeaderOf(root, "Connection"));
  // vdirsyncer asks the server's root first: it answers as the DAV root.
  const THttpAnswer slash = Ask("PROPFIND", "/");
  EXPECT_EQ(207, slash.Status);
  EXPECT_NE(std::string::npos, slash.Body.find("<D:href>/</D:href>"));
  EXPECT_NE(std::string::npos, slash.Body.find("<D:current-user-principal><D:href>/dav/principals/bob/</D:href>"));
  EXPECT_EQ((std::vector<std::string>{"/dav/principals/bob/"}),
            Matches(root.Body, "<D:current-user-principal><D:href>([^<]*)</D:href>"));
  const THttpAnswer principal = Ask("PROPFIND", "/dav/principals/bob/");
  EXPECT_EQ((std::vector<std::string>{"/dav/addressbooks/bob/"}),
            Matches(principal.Body, "<C:addressbook-home-set><D:href>([^<]*)</D:href>"));
  const THttpAnswer home = Ask("PROPFIND", "/dav/addressbooks/bob/", "", "1");
  EXPECT_EQ((std::vector<std::string>{"/dav/addressbooks/bob/", "/dav/addressbooks/bob/contacts/"}),
            Matches(home.Body, "<D:href>([^<]*)</D:href><D:propstat>"));
  EXPECT_NE(std::string::npos, home.Body.find("<D:resourcetype><D:collection/><C:addressbook/></D:resourcetype>"));
  EXPECT_NE(std::string::npos, home.Body.find("version=\"3.0\""));
}

TEST_F(DavTest, TheBookListsTheUsersCardsWithQuotedETagsThatGetReturns) {
  const THttpAnswer book = Ask("PROPFIND", "/dav/addressbooks/bob/contacts/", kPropfindBook, "1");
  ASSERT_EQ(207, book.Status);
  EXPECT_EQ((std::vector<std::string>{"/dav/addressbooks/bob/contacts/", "/dav/addressbooks/bob/contacts/11.vcf",
                                      "/dav/addressbooks/bob/contacts/13.vcf"}),
            Matches(book.Body, "<D:href>([^<]*)</D:href>"));
  const std::vector<std::string> etags = Matches(book.Body, "<D:getetag>([^<]*)</D:getetag>");
  ASSERT_EQ(2u, etags.size());
  for (const std::string& etag : etags) EXPECT_TRUE(std::regex_match(etag, std::regex("\"[0-9a-f]{32}\""))) << etag;
  // Found first, then the unknown property, with exact status lines.
  const std::vector<std::string> statuses = Matches(book.Body, "<D:status>([^<]*)</D:status>");
  ASSERT_EQ(6u, statuses.size());
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    EXPECT_EQ(i % 2 == 0 ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found", statuses[i]) << i;
  }
  EXPECT_NE(std::string::npos, book.Body.find("<x:unknown xmlns:x=\"urn:example\"/>"));
  EXPECT_EQ(std::string::npos, book.Body.find("Eve"));

  const THttpAnswer card = Ask("GET", "/dav/addressbooks/bob/contacts/11.vcf");
  EXPECT_EQ(200, card.Status);
  EXPECT_EQ("text/vcard; charset=utf-8", HeaderOf(card, "Content-Type"));
  EXPECT_EQ(etags[0], HeaderOf(card, "ETag"));
  EXPECT_EQ(0u, card.Body.find("BEGIN:VCARD\r\nVERSION:3.0\r\n"));
  EXPECT_NE(std::string::npos, card.Body.find("\r\nFN:Ann & Co\r\n"));
  EXPECT_NE(std::string::npos, card.Body.find("\r\nUID:"));
  // The UID the card was given is kept: the ETag stays as it is.
  EXPECT_EQ(etags[0], HeaderOf(Ask("GET", "/dav/addressbooks/bob/contacts/11.vcf"), "ETag"));
}

TEST_F(DavTest, AnEditOnThePagesChangesThatCardsETagAndTheBooksTagOnly) {
  const auto state = [&] {
    const std::string body = Ask("PROPFIND", "/dav/addressbooks/bob/contacts/", kPropfindBook, "1").Body;
    return std::make_pair(Matches(body, "<D:getetag>([^<]*)</D:getetag>"), Matches(body, "<CS:getctag>([^<]*)</CS:getctag>"));
  };
  const auto before = state();
  ASSERT_EQ(2u, before.first.size());
  ASSERT_EQ(before, state());  // reading changes nothing
  const std::string edit = "xPath=" + FormEncode("/*/vCard[ID='13']") + "&Command=edit&XML=" +
                           FormEncode("<vCard><FN>Ben Two</FN><ID>13</ID></vCard>") + "&Redirect=index.htm";
  ASSERT_EQ(302, Request(port_, "POST", "/pelorin/index.htm", "bob", "pw", edit).Status);
  const auto after = state();
  ASSERT_EQ(2u, after.first.size());
  EXPECT_EQ(before.first[0], after.first[0]);
  EXPECT_NE(before.first[1], after.first[1]);
  EXPECT_NE(before.second, after.second);
}

// iOS sends the "@" of a user name as "%40"; a name with a real "%" still signs in.
TEST_F(DavTest, PercentEncodedUserNamesSignIn) {
  const THttpAnswer ios = Ask("PROPFIND", "/dav/", "", "0", "ann%40example.org", "pw3");
  EXPECT_EQ(207, ios.Status);
  EXPECT_NE(std::string::npos, ios.Body.find("<D:href>/dav/principals/ann%40example.org/</D:href>"));
  EXPECT_EQ(207, Ask("PROPFIND", "/dav/addressbooks/ann%40example.org/contacts/", "", "0", "ann@example.org", "pw3")
                     .Status);
  EXPECT_EQ(207, Ask("PROPFIND", "/dav/", "", "0", "100%", "pw4").Status);
  EXPECT_EQ(401, Ask("PROPFIND", "/dav/", "", "0", "ann%40example.org", "wrong").Status);
}

TEST_F(DavTest, AnotherUsersResourcesAreNotThere) {
  for (const char* path : {"/dav/principals/eve/", "/dav/addressbooks/eve/", "/dav/addressbooks/eve/contacts/",
                           "/dav/addressbooks/eve/contacts/12.vcf", "/dav/addressbooks/bob/contacts/12.vcf",
                           "/dav/addressbooks/EVE/contacts/"}) {
    for (const char* method : {"PROPFIND", "GET", "OPTIONS"}) {
      // In one's own book, OPTIONS answers for any name: a new card may be put there.
      if (std::string(method) == "OPTIONS" && std::string(path).starts_with("/dav/addressbooks/bob/")) continue;
      const THttpAnswer answer = Ask(method, path, "", "1");
      EXPECT_EQ(404, answer.Status) << method << " " << path;
      EXPECT_EQ(std::string::npos, answer.Body.find("Eve")) << method << " " << path;
    }
  }
  // The name in the path is matched in any case, percent-encoded or not.
  EXPECT_EQ(207, Ask("PROPFIND", "/dav/addressbooks/B%6Fb/contacts/").Status);
}

TEST_F(DavTest, InfiniteDepthAndHostileBodiesAreRefused) {
  const THttpAnswer infinite = Ask("PROPFIND", "/dav/addressbooks/bob/contacts/", "", "infinity");
  EXPECT_EQ(403, infinite.Status);
  EXPECT_NE(std::string::npos, infinite.Body.find("<D:propfind-finite-depth/>"));
  const std::string doctype =
      "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>"
      "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:displayname>&e;</d:displayname></d:prop></d:propfind>";
  const THttpAnswer entity = Ask("PROPFIND", "/dav/addressbooks/bob/contacts/", doctype);
  EXPECT_EQ(400, entity.Status);
  EXPECT_EQ(std::string::npos, entity.Body.find("root:"));
  EXPECT_EQ(400, Ask("PROPFIND", "/dav/", "<d:propfind xmlns:d=\"DAV:\"><d:prop>").Status);
  EXPECT_EQ(400, Ask("PROPFIND", "/dav/", "<propfind/>").Status);
  const std::string huge = "<d:propfind xmlns:d=\"DAV:\"><d:prop>" + std::string(2 << 20, ' ') + "</d:prop></d:propfind>";
  EXPECT_EQ(400, Ask("PROPFIND", "/dav/", huge).Status);
  // Methods of WebDAV stay closed outside it.
  EXPECT_EQ("", Dav(port_, "PROPFIND", "/pelorin/index.htm", "", "0"));
}

std::string Multiget(const std::vector<std::string>& hrefs, const std::string& address_data) {
  std::string body =
      "<?xml version=\"1.0\"?><C:addressbook-multiget xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\">"
      "<D:prop><D:getetag/>" + address_data + "</D:prop>";
  for (const std::string& href : hrefs) body += "<D:href>" + href + "</D:href>";
  return body + "</C:addressbook-multiget>";
}

TEST_F(DavTest, MultigetAnswersEveryHrefAndAMissingOneWithItsOwn404) {
  const std::string etag = HeaderOf(Ask("GET", "/dav/addressbooks/bob/contacts/11.vcf"), "ETag");
  const THttpAnswer answer =
      Ask("REPORT", "/dav/addressbooks/bob/contacts/",
          Multiget({"/dav/addressbooks/bob/contacts/11.vcf", "/dav/addressbooks/bob/contacts/%31%33.vcf",
                    "/dav/addressbooks/bob/contacts/99.vcf", "/dav/addressbooks/eve/contacts/12.vcf",
                    "http://127.0.0.1/dav/addressbooks/bob/contacts/13.vcf"},
                   "<C:address-data content-type=\"text/vcard\" version=\"4.0\"/>"),
          "1");
  ASSERT_EQ(207, answer.Status) << answer.Body;
  EXPECT_EQ((std::vector<std::string>{"/dav/addressbooks/bob/contacts/11.vcf",
                                      "/dav/addressbooks/bob/contacts/%31%33.vcf",
                                      "/dav/addressbooks/bob/contacts/99.vcf", "/dav/addressbooks/eve/contacts/12.vcf",
                                      "http://127.0.0.1/dav/addressbooks/bob/contacts/13.vcf"}),
            Matches(answer.Body, "<D:href>([^<]*)</D:href>"));
  EXPECT_EQ((std::vector<std::string>{"HTTP/1.1 200 OK", "HTTP/1.1 200 OK", "HTTP/1.1 404 Not Found",
                                      "HTTP/1.1 404 Not Found", "HTTP/1.1 200 OK"}),
            Matches(answer.Body, "<D:status>([^<]*)</D:status>"));
  EXPECT_EQ(etag, Matches(answer.Body, "<D:getetag>([^<]*)</D:getetag>").at(0));
  EXPECT_NE(std::string::npos, answer.Body.find("VERSION:4.0"));
  EXPECT_NE(std::string::npos, answer.Body.find("FN:Ann &amp; Co"));
  EXPECT_EQ(std::string::npos, answer.Body.find("Eve"));
  // 3.0 unless 4.0 is asked.
  const std::string three = Ask("REPORT", "/dav/addressbooks/bob/contacts/",
                                Multiget({"/dav/addressbooks/bob/contacts/11.vcf"}, "<C:address-data/>"), "1")
                                .Body;
  EXPECT_NE(std::string::npos, three.find("VERSION:3.0"));
}

std::string Query(const std::string& filter) {
  return "<?xml version=\"1.0\"?><C:addressbook-query xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\">"
         "<D:prop><D:getetag/><C:address-data/></D:prop>" + filter + "</C:addressbook-query>";
}

TEST_F(DavTest, AddressbookQueryFiltersByPropertiesAndText) {
  const struct {
    std::string filter;
    std::vector<std::string> hrefs;
  } cases[] = {
      // tsdav lists cards with an existence test on FN.
      {"<C:filter><C:prop-filter name=\"FN\"/></C:filter>",
       {"/dav/addressbooks/bob/contacts/11.vcf", "/dav/addressbooks/bob/contacts/13.vcf"}},
      {"<C:filter><C:prop-filter name=\"tel\"/></C:filter>", {"/dav/addressbooks/bob/contacts/13.vcf"}},
      {"<C:filter><C:prop-filter name=\"TEL\"><C:is-not-defined/></C:prop-filter></C:filter>",
       {"/dav/addressbooks/bob/contacts/11.vcf"}},
      {"<C:filter><C:prop-filter name=\"FN\"><C:text-match match-type=\"contains\">&amp; co</C:text-match>"
       "</C:prop-filter></C:filter>",
       {"/dav/addressbooks/bob/contacts/11.vcf"}},
      {"<C:filter><C:prop-filter name=\"FN\"><C:text-match collation=\"i;octet\">&amp; co</C:text-match>"
       "</C:prop-filter></C:filter>",
       {}},
      {"<C:filter><C:prop-filter name=\"FN\"><C:text-match match-type=\"equals\">ben</C:text-match>"
       "</C:prop-filter></C:filter>",
       {"/dav/addressbooks/bob/contacts/13.vcf"}},
      {"<C:filter><C:prop-filter name=\"FN\"><C:text-match match-type=\"starts-with\" negate-condition=\"yes\">"
       "Ann</C:text-match></C:prop-filter></C:filter>",
       {"/dav/addressbooks/bob/contacts/13.vcf"}},
      {"<C:filter><C:prop-filter name=\"TEL\"><C:text-match match-type=\"ends-with\">1</C:text-match>"
       "</C:prop-filter></C:filter>",
       {"/dav/addressbooks/bob/contacts/13.vcf"}},
      {"<C:filter test=\"allof\"><C:prop-filter name=\"FN\"/><C:prop-filter name=\"N\"/></C:filter>",
       {"/dav/addressbooks/bob/contacts/11.vcf", "/dav/addressbooks/bob/contacts/13.vcf"}},  // 3.0 gives every card an N
      {"<C:filter><C:prop-filter name=\"EMAIL\"/></C:filter>", {}},
      // Parameters: there, not there, or with a value (each of a list on its own).
      {"<C:filter><C:prop-filter name=\"TEL\"><C:param-filter name=\"type\"/></C:prop-filter></C:filter>",
       {"/dav/addressbooks/bob/contacts/13.vcf"}},
      {"<C:filter><C:prop-filter name=\"TEL\"><C:param-filter name=\"TYPE\"><C:is-not-defined/></C:param-filter>"
       "</C:prop-filter></C:filter>",
       {}},
      {"<C:filter><C:prop-filter name=\"TEL\"><C:param-filter name=\"TYPE\"><C:text-match match-type=\"equals\">"
       "cell</C:text-match></C:param-filter></C:prop-filter></C:filter>",
       {"/dav/addressbooks/bob/contacts/13.vcf"}},
      {"<C:filter><C:prop-filter name=\"TEL\"><C:param-filter name=\"TYPE\"><C:text-match match-type=\"equals\">"
       "work</C:text-match></C:param-filter></C:prop-filter></C:filter>",
       {}},
      {"<C:filter><C:prop-filter name=\"TEL\" test=\"allof\"><C:text-match>+41</C:text-match>"
       "<C:param-filter name=\"TYPE\"><C:text-match>home</C:text-match></C:param-filter></C:prop-filter></C:filter>",
       {}},
      {"<C:filter><C:prop-filter name=\"TEL\"><C:text-match>+41</C:text-match>"
       "<C:param-filter name=\"TYPE\"><C:text-match>home</C:text-match></C:param-filter></C:prop-filter></C:filter>",
       {"/dav/addressbooks/bob/contacts/13.vcf"}},
      {"", {"/dav/addressbooks/bob/contacts/11.vcf", "/dav/addressbooks/bob/contacts/13.vcf"}},
  };
  for (const auto& c : cases) {
    const THttpAnswer answer = Ask("REPORT", "/dav/addressbooks/bob/contacts/", Query(c.filter), "1");
    ASSERT_EQ(207, answer.Status) << c.filter << answer.Body;
    EXPECT_EQ(c.hrefs, Matches(answer.Body, "<D:href>([^<]*)</D:href>")) << c.filter;
    EXPECT_EQ(std::string::npos, answer.Body.find("Eve")) << c.filter;
  }
}

TEST_F(DavTest, PrincipalSearchesAreAnsweredEmptyAndUnknownReportsRefused) {
  const THttpAnswer expand = Ask("REPORT", "/dav/principals/bob/",
                                 "<D:expand-property xmlns:D=\"DAV:\"><D:property name=\"x\"/></D:expand-property>");
  EXPECT_EQ(207, expand.Status);
  EXPECT_EQ(std::string::npos, expand.Body.find("<D:response>"));
  const THttpAnswer unknown = Ask("REPORT", "/dav/addressbooks/bob/contacts/", "<x:report xmlns:x=\"urn:x\"/>");
  EXPECT_EQ(403, unknown.Status);
  EXPECT_NE(std::string::npos, unknown.Body.find("<D:supported-report/>"));
}

std::string SyncCollection(const std::string& token) {
  return "<?xml version=\"1.0\"?><D:sync-collection xmlns:D=\"DAV:\"><D:sync-token>" + token +
         "</D:sync-token><D:sync-level>1</D:sync-level><D:prop><D:getetag/></D:prop></D:sync-collection>";
}

class DavSyncTest : public DavTest {
 protected:
  struct TSync {
    int Status = 0;
    std::vector<std::string> Hrefs;
    std::vector<std::string> Statuses;
    std::string Token;
    std::string Body;
  };
  TSync Sync(const std::string& token, const std::string& agent = "") {
    const std::string request =
        "REPORT /dav/addressbooks/bob/contacts/ HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " +
        BasicCredentials("bob", "pw") + "\r\nDepth: 1\r\n" + (agent.empty() ? "" : "User-Agent: " + agent + "\r\n") +
        "Content-Length: " + std::to_string(SyncCollection(token).size()) + "\r\nConnection: close\r\n\r\n" +
        SyncCollection(token);
    const THttpAnswer answer = ParseAnswer(Exchange(port_, request));
    TSync sync{answer.Status, Matches(answer.Body, "<D:href>([^<]*)</D:href>"),
               Matches(answer.Body, "<D:status>([^<]*)</D:status>"), "", answer.Body};
    const std::vector<std::string> tokens = Matches(answer.Body, "<D:sync-token>([^<]*)</D:sync-token>");
    if (!tokens.empty()) sync.Token = tokens.back();
    return sync;
  }
  void EditOnThePages(const std::string& id, const std::string& name) {
    const std::string edit = "xPath=" + FormEncode("/*/vCard[ID='" + id + "']") + "&Command=edit&XML=" +
                             FormEncode("<vCard><FN>" + name + "</FN><ID>" + id + "</ID></vCard>") + "&Redirect=index.htm";
    ASSERT_EQ(302, Request(port_, "POST", "/pelorin/index.htm", "bob", "pw", edit).Status);
  }
  void Restart(int signal) {
    server_->Signal(signal);
    if (signal == SIGTERM) {
      ASSERT_EQ(std::optional<int>(0), server_->WaitForExit());
    }
    server_.reset();
    server_ = std::make_unique<TServerProcess>(app_.Executable());
    ASSERT_TRUE(server_->WaitForPort(port_));
  }
};

TEST_F(DavSyncTest, ATokenGivesExactlyWhatChangedSinceByAnyRoute) {
  const TSync first = Sync("");
  ASSERT_EQ(207, first.Status) << first.Body;
  EXPECT_EQ((std::vector<std::string>{"/dav/addressbooks/bob/contacts/11.vcf", "/dav/addressbooks/bob/contacts/13.vcf"}),
            first.Hrefs);
  ASSERT_FALSE(first.Token.empty());
  // Nothing changed: nothing listed, the same token, also after the home was listed.
  EXPECT_NE(std::string::npos, Ask("PROPFIND", "/dav/addressbooks/bob/", "", "1").Body.find(first.Token));
  const TSync quiet = Sync(first.Token);
  EXPECT_TRUE(quiet.Hrefs.empty());
  EXPECT_EQ(first.Token, quiet.Token);
  // The token is the book's sync-token too.
  EXPECT_NE(std::string::npos, Ask("PROPFIND", "/dav/addressbooks/bob/contacts/").Body.find(first.Token));

  EditOnThePages("13", "Ben Edited");
  const TSync edited = Sync(first.Token);
  EXPECT_EQ((std::vector<std::string>{"/dav/addressbooks/bob/contacts/13.vcf"}), edited.Hrefs);
  EXPECT_EQ((std::vector<std::string>{"HTTP/1.1 200 OK"}), edited.Statuses);
  EXPECT_NE(first.Token, edited.Token);

  ASSERT_EQ(204, ParseAnswer(Dav(port_, "DELETE", "/dav/addressbooks/bob/contacts/11.vcf", "", "")).Status);
  const TSync deleted = Sync(edited.Token);
  EXPECT_EQ((std::vector<std::string>{"/dav/addressbooks/bob/contacts/11.vcf"}), deleted.Hrefs);
  EXPECT_EQ((std::vector<std::string>{"HTTP/1.1 404 Not Found"}), deleted.Statuses);
  // From the first token: the edit and the deletion, each once.
  EXPECT_EQ(2u, Sync(first.Token).Hrefs.size());
}

TEST_F(DavSyncTest, AnUnknownTokenGetsTheValidSyncTokenErrorWithTheStatusTheClientRecoversOn) {
  for (const char* token : {"urn:pelorin:sync:0000:1", "garbage", "urn:pelorin:sync:x:99999999"}) {
    const TSync refused = Sync(token);
    EXPECT_EQ(403, refused.Status) << token;
    EXPECT_NE(std::string::npos, refused.Body.find("<D:valid-sync-token/>")) << token;
  }
  const TSync thunderbird = Sync("garbage", "Mozilla/5.0 Thunderbird/115.3.1");
  EXPECT_EQ(400, thunderbird.Status);
  EXPECT_NE(std::string::npos, thunderbird.Body.find("<D:valid-sync-token/>"));
}

TEST_F(DavSyncTest, TokensSurviveACleanRestartAndACrashOnlyCostsAFullSync) {
  const std::string token = Sync("").Token;
  Restart(SIGTERM);
  EditOnThePages("11", "After Restart");
  const TSync after = Sync(token);
  ASSERT_EQ(207, after.Status) << after.Body;
  EXPECT_EQ((std::vector<std::string>{"/dav/addressbooks/bob/contacts/11.vcf"}), after.Hrefs);

  Restart(SIGKILL);
  const TSync crashed = Sync(after.Token);
  EXPECT_EQ(403, crashed.Status);
  EXPECT_NE(std::string::npos, crashed.Body.find("<D:valid-sync-token/>"));
  EXPECT_EQ(2u, Sync("").Hrefs.size());
}

constexpr char kNewCard[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:abc-123\r\nFN:Dana Put\r\nN:Put;Dana;;;\r\n"
    "item1.TEL;TYPE=CELL:+41 2\r\nitem1.X-ABLabel:_$!<Mobile>!$_\r\nNOTE:one\\, two\\nthree\r\n"
    "X-CUSTOM;X-P=q:kept\r\nEND:VCARD\r\n";

class DavWriteTest : public DavTest {
 protected:
  THttpAnswer Put(const std::string& path, const std::string& body, const std::string& headers) {
    return ParseAnswer(Exchange(port_, "PUT " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " +
                                           BasicCredentials("bob", "pw") + "\r\n" + headers +
                                           "Content-Length: " + std::to_string(body.size()) +
                                           "\r\nConnection: close\r\n\r\n" + body));
  }
  THttpAnswer Delete(const std::string& path, const std::string& headers) {
    return ParseAnswer(Exchange(port_, "DELETE " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " +
                                           BasicCredentials("bob", "pw") + "\r\n" + headers +
                                           "Connection: close\r\n\r\n"));
  }
  // The user's cards as the download gives them, without the REV a card
  // without one gets (the time of the download).
  std::string Pages() {
    const std::string cards = Request(port_, "GET", "/pelorin/export4.vcf", "bob", "pw").Body;
    return std::regex_replace(cards, std::regex("\r\nREV:[0-9TZ]+\r\n"), "\r\n");
  }
  static constexpr char kPath[] = "/dav/addressbooks/bob/contacts/abc-123.vcf";
  static constexpr char kVcardType[] = "Content-Type: text/vcard; charset=utf-8\r\n";
};

TEST_F(DavWriteTest, APutCardKeepsItsNameAndEveryPropertyAndIsOnThePages) {
  const THttpAnswer created = Put(kPath, kNewCard, std::string(kVcardType) + "If-None-Match: *\r\n");
  ASSERT_EQ(201, created.Status) << created.Body;
  const std::string etag = HeaderOf(created, "ETag");
  EXPECT_TRUE(std::regex_match(etag, std::regex("\"[0-9a-f]{32}\""))) << etag;
  const THttpAnswer got = Ask("GET", kPath);
  ASSERT_EQ(200, got.Status);
  EXPECT_EQ(etag, HeaderOf(got, "ETag"));
  for (const char* line : {"\r\nUID:abc-123\r\n", "\r\nFN:Dana Put\r\n", "\r\nitem1.TEL;TYPE=CELL,VOICE:+41 2\r\n",  // 3.0's implied type, written out
                           "\r\nitem1.X-ABLabel:_$!<Mobile>!$_\r\n", "\r\nNOTE:one\\, two\\nthree\r\n",
                           "\r\nX-CUSTOM;X-P=q:kept\r\n"}) {
    EXPECT_NE(std::string::npos, got.Body.find(line)) << line << got.Body;
  }
  // The name is the client's, and no vCard shows it.
  EXPECT_EQ(std::string::npos, got.Body.find("RESOURCE"));
  EXPECT_NE(std::string::npos, Ask("PROPFIND", "/dav/addressbooks/bob/contacts/", "", "1").Body.find(
                                   "<D:href>/dav/addressbooks/bob/contacts/abc-123.vcf</D:href>"));
  EXPECT_NE(std::string::npos, Pages().find("FN:Dana Put"));
  // Eve sees nothing of it.
  EXPECT_EQ(404, Ask("GET", "/dav/addressbooks/eve/contacts/abc-123.vcf", "", "0", "eve", "pw2").Status);
  EXPECT_EQ(std::string::npos, Request(port_, "GET", "/pelorin/export4.vcf", "eve", "pw2").Body.find("Dana"));
}

TEST_F(DavWriteTest, PreconditionsDecideAndAnswerWithTheNewETag) {
  const std::string first = HeaderOf(Put(kPath, kNewCard, "If-None-Match: *\r\n"), "ETag");
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(412, Put(kPath, kNewCard, "If-None-Match: *\r\n").Status);
  EXPECT_EQ(412, Put(kPath, kNewCard, "If-Match: \"0123\"\r\n").Status);
  EXPECT_EQ(412, Put("/dav/addressbooks/bob/contacts/none.vcf", kNewCard, "If-Match: " + first + "\r\n").Status);
  std::string changed = kNewCard;
  changed.replace(changed.find("Dana Put"), 8, "Dana Two");
  const THttpAnswer replaced = Put(kPath, changed, "If-Match: " + first + "\r\n");
  ASSERT_EQ(204, replaced.Status);
  const std::string second = HeaderOf(replaced, "ETag");
  EXPECT_NE(first, second);
  EXPECT_EQ(second, HeaderOf(Ask("GET", kPath), "ETag"));
  // Without a precondition (Thunderbird's way), and the ETag without quotes (Evolution's).
  changed.replace(changed.find("Dana Two"), 8, "Dana Tri");
  EXPECT_EQ(204, Put(kPath, changed, "").Status);
  const std::string third = HeaderOf(Ask("GET", kPath), "ETag");
  EXPECT_EQ(204, Put(kPath, kNewCard, "If-Match: " + third.substr(1, third.size() - 2) + "\r\n").Status);
  // One card, not two: the page shows it once.
  const std::string pages = Pages();
  EXPECT_EQ(pages.find("FN:Dana Put"), pages.rfind("FN:Dana Put"));
  EXPECT_EQ(std::string::npos, pages.find("Dana Tri"));

  EXPECT_EQ(412, Delete(kPath, "If-Match: " + first + "\r\n").Status);
  EXPECT_EQ(204, Delete(kPath, "").Status);
  EXPECT_EQ(404, Ask("GET", kPath).Status);
  EXPECT_EQ(std::string::npos, Pages().find("Dana"));
  EXPECT_EQ(404, Delete(kPath, "").Status);
}

TEST_F(DavWriteTest, BodiesThatAreNoCardOrTooLargeChangeNothing) {
  const std::string before = Pages();
  EXPECT_EQ(400, Put(kPath, "hello", kVcardType).Status);
  EXPECT_EQ(400, Put(kPath, std::string(kNewCard) + kNewCard, kVcardType).Status);
  EXPECT_EQ(415, Put(kPath, kNewCard, "Content-Type: image/png\r\n").Status);
  std::string huge = kNewCard;
  huge.insert(huge.find("END:VCARD"), "NOTE:" + std::string(11 << 20, 'x') + "\r\n");
  EXPECT_EQ(413, Put(kPath, huge, kVcardType).Status);
  EXPECT_EQ(403, Put("/dav/addressbooks/bob/contacts/..", kNewCard, kVcardType).Status);  // as every path
  EXPECT_EQ(400, Put("/dav/addressbooks/bob/contacts/a%2Fb.vcf", kNewCard, kVcardType).Status);
  EXPECT_EQ(400, Put("/dav/addressbooks/bob/contacts/a%0Ab.vcf", kNewCard, kVcardType).Status);
  EXPECT_EQ(405, Put("/dav/addressbooks/bob/contacts/", kNewCard, kVcardType).Status);
  EXPECT_EQ(before, Pages());
}

TEST_F(DavWriteTest, AnAnsweredPutSurvivesAKill) {
  ASSERT_EQ(201, Put(kPath, kNewCard, "If-None-Match: *\r\n").Status);
  const std::string etag = HeaderOf(Ask("GET", kPath), "ETag");
  server_->Signal(SIGKILL);
  server_.reset();
  server_ = std::make_unique<TServerProcess>(app_.Executable());
  ASSERT_TRUE(server_->WaitForPort(port_));
  EXPECT_EQ(etag, HeaderOf(Ask("GET", kPath), "ETag"));
}

}  // namespace
}  // namespace pelorin::testing
