// The dispatcher's decision table, driven directly with RequestInfo and
// ResponseInfo against a started module: credential rows, the administrator
// areas, the redirects, the extension rule and the response types.
#include <string>

#include <gtest/gtest.h>

#include "service/vcard_main.h"
#include "tests/service/service_fixture.h"

namespace pelorin::testing {
namespace {

constexpr char kCacheLine[] = "Cache-Control: max-age=0";

std::string Location(const ResponseInfo& res) {
  for (const std::string& line : res.ExtraHeaders) {
    if (line.starts_with("Location: ")) return line.substr(10);
  }
  return {};
}

class DispatcherTest : public TServiceTest {
 protected:
  void SetUp() override {
    WriteStores();
    ASSERT_TRUE(Start());
  }
};

TEST_F(DispatcherTest, EveryAnswerStartsWithTheCacheLine) {
  const ResponseInfo answers[] = {
      Get("/pelorin/index.htm", "", ""),        // challenge
      Get("/logout", "bob", "pw"),              // redirect
      Get("/pelorin/list", "bob", "pw"),        // plain 200
      Request("HEAD", "/", "alice", "Secret1"), // redirect for HEAD
      Get("/user", "alice", "Secret1"),         // the redirect into the area is not in it
      Get("/User/index.htm", "bob", "pw"),      // areas compare case-sensitively
      Get("/pelorin/user/x.htm", "bob", "pw"),
  };
  for (const ResponseInfo& res : answers) {
    ASSERT_FALSE(res.ExtraHeaders.empty());
    EXPECT_EQ(kCacheLine, res.ExtraHeaders.front());
  }
}

TEST_F(DispatcherTest, AccountAreasAreNeverStored) {
  const struct {
    const char* method;
    const char* path;
    const char* user;
    const char* password;
    int status;
  } cases[] = {
      {"GET", "/config/index.htm", "bob", "pw", 403},       // refused area
      {"GET", "/user/index.htm", "", "", 401},              // challenge
      {"GET", "/user/", "alice", "Secret1", 302},           // redirect
      {"GET", "/config/", "alice", "Secret1", 302},
      {"GET", "/user/index.htm", "alice", "Secret1", 500},  // no stylesheet here
      {"GET", "/config/x.txt", "alice", "Secret1", 200},
      {"HEAD", "/user/index.htm", "alice", "Secret1", 200},
      {"GET", "/user/../x.htm", "alice", "Secret1", 403},   // forbidden path
  };
  for (const auto& c : cases) {
    const ResponseInfo res = Request(c.method, c.path, c.user, c.password);
    EXPECT_EQ(c.status, res.Realm.empty() ? res.StatusCode : 401) << c.method << " " << c.path;
    ASSERT_FALSE(res.ExtraHeaders.empty()) << c.path;
    EXPECT_EQ("Cache-Control: no-store", res.ExtraHeaders.front()) << c.method << " " << c.path;
    for (std::size_t i = 1; i < res.ExtraHeaders.size(); ++i) {
      EXPECT_FALSE(res.ExtraHeaders[i].starts_with("Cache-Control")) << c.path << ": " << res.ExtraHeaders[i];
    }
  }
}

TEST_F(DispatcherTest, MissingCredentialsAreChallengedWithoutACheck) {
  const struct {
    const char* user;
    const char* password;
  } cases[] = {{"", ""}, {"   ", ""}, {"\t", "\r\n"}, {" \x01", " "}};
  for (const auto& c : cases) {
    const ResponseInfo res = Request("GET", "/pelorin/index.htm", c.user, c.password, "host.example");
    EXPECT_EQ(kAccountRealm, res.Realm);
    EXPECT_EQ("host.example web service. Account required.", res.Body);
  }
  EXPECT_EQ(std::string::npos, LogText().find("check failed"));
}

TEST_F(DispatcherTest, ChallengeNamesTheRequestedHost) {
  const struct {
    const char* host;
    const char* domain;
  } cases[] = {
      {"address.example:9555", "address.example"},
      {"address.example", "address.example"},
      {"", "Pelorin"},
      {"[::1]:9555", "[::1]"},
      {"10.0.0.7:80", "10.0.0.7"},
      {"<script>alert(1)</script>", "Pelorin"},  // echoed into an HTML body
      {"a b", "Pelorin"},
  };
  for (const auto& c : cases) {
    const ResponseInfo res = Request("GET", "/", "", "", c.host);
    EXPECT_EQ(std::string(c.domain) + " web service. Account required.", res.Body) << c.host;
  }
  EXPECT_EQ("Pelorin web service. Account required.",
            Request("GET", "/", "", "", std::string(300, 'a')).Body);
}

TEST_F(DispatcherTest, WrongCredentialsAreChallengedAndLogged) {
  const ResponseInfo res = Request("GET", "/pelorin/index.htm", " bob ", "nope", "h");
  EXPECT_EQ(kAccountRealm, res.Realm);
  EXPECT_EQ("h web service. Account required.", res.Body);
  EXPECT_NE(std::string::npos, LogText().find("User (bob/********) check failed."));
}

TEST_F(DispatcherTest, CredentialsAreTrimmedBeforeTheCheck) {
  const ResponseInfo res = Get("/pelorin/list", "\t bob \x1f", "  pw\r\n");
  EXPECT_TRUE(res.Realm.empty());
  EXPECT_EQ(200, res.StatusCode);
}

TEST_F(DispatcherTest, LogoutRedirectsWhateverTheCredentials) {
  for (const char* password : {"pw", "wrong"}) {
    const ResponseInfo res = Get("/logout", "bob", password);
    EXPECT_EQ(302, res.StatusCode);
    EXPECT_EQ("Moved Temporarily", res.StatusText);
    EXPECT_EQ("../pelorin/index.htm", Location(res));
    EXPECT_TRUE(res.Realm.empty());
  }
  // Without credentials the challenge comes first.
  EXPECT_EQ(kAccountRealm, Get("/logout", "", "").Realm);
}

TEST_F(DispatcherTest, LogoutCycleOverRequests) {
  EXPECT_EQ(302, Get("/logout", "Bob", "pw").StatusCode);
  EXPECT_EQ(kAccountRealm, Get("/pelorin/index.htm", "bob", "pw").Realm);  // refused once
  const ResponseInfo again = Get("/pelorin/list", "bob", "pw");
  EXPECT_TRUE(again.Realm.empty());
  EXPECT_EQ(200, again.StatusCode);
}

TEST_F(DispatcherTest, CapitalisedLogoutIsAnOrdinaryPath) {
  const ResponseInfo res = Get("/Logout", "bob", "pw");
  EXPECT_EQ(200, res.StatusCode);
  EXPECT_TRUE(res.Body.empty());
  EXPECT_EQ(200, Get("/pelorin/list", "bob", "pw").StatusCode);  // no marker was left
}

TEST_F(DispatcherTest, AdministratorAreas) {
  for (const char* path : {"/config/index.htm", "/user/index.htm", "/user", "/config", "/users", "/configx"}) {
    const ResponseInfo res = Get(path, "bob", "pw");
    EXPECT_EQ(403, res.StatusCode) << path;
    EXPECT_EQ("Forbidden", res.StatusText) << path;
    EXPECT_EQ("User needs administrator rights.", res.Body) << path;
  }
  const ResponseInfo admin = Get("/user", "alice", "Secret1");
  EXPECT_EQ(302, admin.StatusCode);
  EXPECT_EQ("../user/index.htm", Location(admin));
  EXPECT_EQ(200, Get("/User/", "bob", "pw").StatusCode);
}

TEST_F(DispatcherTest, AreaRedirectsForEveryMethod) {
  const struct {
    const char* path;
    const char* target;  // empty: no redirect
  } cases[] = {
      {"/", "../pelorin/index.htm"},          {"/pelorin", "../pelorin/index.htm"},
      {"/pelorin/", "../pelorin/index.htm"},  {"/user", "../user/index.htm"},
      {"/user/", "../user/index.htm"},        {"/config", "../config/index.htm"},
      {"/config/", "../config/index.htm"},    {"/PELORIN", ""},
      {"/pelorin//", ""},                     {"//", ""},
      {"/Config/", ""},
  };
  for (const char* method : {"GET", "POST", "HEAD"}) {
    for (const auto& c : cases) {
      const ResponseInfo res = Request(method, c.path, "alice", "Secret1");
      if (*c.target) {
        EXPECT_EQ(302, res.StatusCode) << method << " " << c.path;
        EXPECT_EQ(c.target, Location(res)) << method << " " << c.path;
      } else if (std::string(method) != "POST") {  // a POST elsewhere runs the record commands
        EXPECT_EQ(200, res.StatusCode) << method << " " << c.path;
        EXPECT_EQ("", Location(res)) << method << " " << c.path;
      }
    }
  }
}

TEST_F(DispatcherTest, ResponseTypeFollowsTheExtensionOfAGet) {
  const struct {
    const char* path;
    const char* type;
  } cases[] = {
      {"/pelorin/cards.wml", "text/vnd.wap.wml"},
      {"/pelorin/cards.WML", "text/vnd.wap.wml"},
      {"/pelorin/cards.vcf", "text/x-vcard; charset=UTF-8"},
      {"/pelorin/cards.Vcf", "text/x-vcard; charset=UTF-8"},
      {"/pelorin/index.htm", "text/plain"},  // no stylesheet: the 500 message is text
      {"/pelorin/logo.GIF", "text/plain"},   // no file: the 404 message is text
      {"/pelorin/page.html", "text/html"},
      {"/pelorin/logo.png", "text/html"},
      {"/pelorin/cards.wml.txt", "text/html"},
      {"/pelorin/dir.wml/cards", "text/html"},  // the dot of a directory gives ".wml/cards"
      {"/pelorin/a.wml:b", "text/html"},        // a ":" after the dot: no extension
      {"/pelorin/a.wml\\b", "text/html"},
      {"/pelorin/cards", "text/html"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.type, Get(c.path, "bob", "pw").BodyType) << c.path;
  // Only a GET sets the type.
  EXPECT_EQ("text/html", Request("HEAD", "/pelorin/cards.wml", "bob", "pw").BodyType);
  EXPECT_EQ("text/html", Request("POST", "/pelorin/cards.vcf", "bob", "pw").BodyType);
}

TEST_F(DispatcherTest, StyleSheetsAndImagesFoundGoOutWithTheirOwnType) {
  for (const char* name : {"pelorin/site.css", "pelorin/logo.GIF", "pelorin/a.jpg", "pelorin/b.JPEG",
                           "pelorin/fixed.htm"}) {
    WriteFile(dir_.File(name), "bytes");
  }
  const struct {
    const char* path;
    const char* type;
  } cases[] = {
      {"/pelorin/site.css", "text/css"},  {"/pelorin/logo.GIF", "image/gif"},
      {"/pelorin/a.jpg", "image/jpeg"},   {"/pelorin/b.JPEG", "image/jpeg"},
      {"/pelorin/fixed.htm", "text/html"},
      {"/pelorin/missing.css", "text/plain"},  // the 404 message names the path
  };
  for (const auto& c : cases) EXPECT_EQ(c.type, Get(c.path, "bob", "pw").BodyType) << c.path;
  EXPECT_EQ("bytes", Get("/pelorin/site.css", "bob", "pw").Body);
}

TEST_F(DispatcherTest, FailureMessagesGoOutAsPlainText) {
  // Each repeats part of the request, so none may reach a browser as markup.
  EXPECT_EQ("text/plain", Get("/pelorin/<img src=x onerror=alert(1)>.css", "bob", "pw").BodyType);
  const ResponseInfo refused = Get("/user/index.htm", "bob", "pw");
  EXPECT_EQ(403, refused.StatusCode);
  EXPECT_EQ("text/plain", refused.BodyType);
  RequestInfo post;
  post.Method = "POST";
  post.Path = "/pelorin/x.htm";
  post.UserName = "bob";
  post.Password = "pw";
  post.FormFields = {"Command=insert", "XML=<script>alert(1)</script><b>"};
  ResponseInfo broken;
  service_->HTTPServerCommandGet(post, broken);
  EXPECT_EQ(500, broken.StatusCode);
  EXPECT_EQ("text/plain", broken.BodyType);
  EXPECT_EQ("text/html", Get("/pelorin/index.htm", "", "").BodyType);  // the challenge keeps its page
}

TEST_F(DispatcherTest, RequestsWithoutARouteEndEmpty) {
  for (const char* path : {"/pelorin/list", "/pelorin/page.html", "/pelorin/logo.png", "*"}) {
    const ResponseInfo res = Get(path, "bob", "pw");
    EXPECT_EQ(200, res.StatusCode) << path;
    EXPECT_TRUE(res.Body.empty()) << path;
    EXPECT_TRUE(res.Realm.empty()) << path;
  }
  const ResponseInfo head = Request("HEAD", "/pelorin/index.htm", "bob", "pw");
  EXPECT_EQ(200, head.StatusCode);
  EXPECT_TRUE(head.Body.empty());
}

TEST_F(DispatcherTest, ParentSegmentsAreRefusedAfterTheCredentials) {
  for (const char* path : {"/../config/config.xml", "/pelorin/../user/index.htm", "/pelorin/..", "/a/../b.css",
                           "/..", "/pelorin/../../etc/passwd.htm"}) {
    const ResponseInfo res = Get(path, "alice", "Secret1");
    EXPECT_EQ(403, res.StatusCode) << path;
    EXPECT_EQ("Forbidden path.", res.Body) << path;
  }
  for (const char* path : {"/pelorin/..x", "/pelorin/x..", "/pelorin/.../a", "/pelorin/%2e%2e/a"}) {
    EXPECT_EQ(200, Get(path, "alice", "Secret1").StatusCode) << path;
  }
  EXPECT_EQ(kAccountRealm, Get("/../x.htm", "", "").Realm);
  EXPECT_EQ(kAccountRealm, Get("/../x.htm", "bob", "wrong").Realm);
}

TEST_F(DispatcherTest, StoreForPathByAreaPrefix) {
  TStoreGuard guard(service_->StoreLock);
  const struct {
    const char* path;
    const TRecordStore* store;
  } cases[] = {
      {"/user/index.htm", &service_->UserDom},      {"/user/", &service_->UserDom},
      {"/config/a.htm", &service_->ConfigDom},      {"/config/", &service_->ConfigDom},
      {"/user", &service_->XMLDom},                 {"/users.htm", &service_->XMLDom},
      {"/User/index.htm", &service_->XMLDom},       {"/configx/a.htm", &service_->XMLDom},
      {"/pelorin/index.htm", &service_->XMLDom},    {"/x/user/a.htm", &service_->XMLDom},
  };
  for (const auto& c : cases) EXPECT_EQ(c.store, &service_->StoreForPath(c.path)) << c.path;
}

}  // namespace
}  // namespace pelorin::testing
