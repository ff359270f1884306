#include "web/request_reader.h"

#include <gtest/gtest.h>

namespace pelorin {
namespace {

TEST(ParseRequestLineTest, LastSpaceEndsTargetFirstSpaceEndsMethod) {
  const struct { const char* line; const char* method; const char* target; const char* protocol; } cases[] = {
      {"GET /index.htm HTTP/1.1", "GET", "/index.htm", "HTTP/1.1"},
      {"get /a HTTP/1.0", "GET", "/a", "HTTP/1.0"},
      {"pOsT /a HTTP/1.1", "POST", "/a", "HTTP/1.1"},
      {"GET /a b HTTP/1.1", "GET", "/a b", "HTTP/1.1"},  // spaces stay in the target
      {"GET /a ", "GET", "/a", ""},                      // empty protocol after a trailing space
      {"GET HTTP/1.1", "GET", "", "HTTP/1.1"},
      {"GET  HTTP/1.1", "GET", "", "HTTP/1.1"},
      {" / HTTP/1.1", "", "/", "HTTP/1.1"},
      {"GET /", "GET", "", "/"},                         // two words: the second is the protocol
      {"G\xE4T / X", "G\xE4T", "/", "X"},                // only ASCII letters change case
  };
  for (const auto& c : cases) {
    const auto line = ParseRequestLine(c.line);
    ASSERT_TRUE(line.has_value()) << c.line;
    EXPECT_EQ(c.method, line->Method) << c.line;
    EXPECT_EQ(c.target, line->Target) << c.line;
    EXPECT_EQ(c.protocol, line->Protocol) << c.line;
  }
}

TEST(ParseRequestLineTest, NoSpaceIsNoRequest) {
  for (const char* line : {"", "GET", "GET/index.htm", "GET\t/\tHTTP/1.1"}) {
    EXPECT_FALSE(ParseRequestLine(line).has_value()) << line;
  }
}

TEST(IsDispatchedMethodTest, WebDavMethodsOnlyOnDavPaths) {
  for (const char* method : {"OPTIONS", "PROPFIND", "REPORT", "PUT", "DELETE"}) {
    for (const char* path : {"/dav", "/dav/", "/dav/addressbooks/bob/contacts/1.vcf", "/.well-known/carddav", "/"}) {
      EXPECT_TRUE(IsDispatchedMethod(method, path)) << method << " " << path;
    }
    for (const char* path : {"/index.htm", "/davx", "/pelorin/dav/", "/user/index.htm", "/.well-known/caldav"}) {
      EXPECT_FALSE(IsDispatchedMethod(method, path)) << method << " " << path;
    }
  }
  EXPECT_FALSE(IsDispatchedMethod("MKCOL", "/dav/"));
  EXPECT_TRUE(IsDispatchedMethod("GET", "/dav/"));
}

TEST(IsDispatchedMethodTest, OnlyGetPostHead) {
  const struct { const char* method; bool want; } cases[] = {
      {"GET", true}, {"POST", true}, {"HEAD", true}, {"PUT", false}, {"DELETE", false}, {"OPTIONS", false},
      {"GETS", false}, {"GE", false}, {"get", false}, {"", false},  // methods arrive upper-cased
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, IsDispatchedMethod(c.method, "/pelorin/index.htm")) << c.method;
}

TEST(SplitTargetTest, FirstQuestionMark) {
  const struct { const char* target; const char* path; const char* query; } cases[] = {
      {"/a", "/a", ""},         {"/a?x=1", "/a", "x=1"}, {"/a?x=1?y", "/a", "x=1?y"},
      {"/a?", "/a", ""},        {"?x", "", "x"},         {"/a#f?x", "/a#f", "x"},
  };
  for (const auto& c : cases) {
    const TTargetParts parts = SplitTarget(c.target);
    EXPECT_EQ(c.path, parts.PathText) << c.target;
    EXPECT_EQ(c.query, parts.QueryText) << c.target;
  }
}

TEST(PathFromTargetTest, PathRules) {
  const struct { const char* target; const char* path; const char* host; } cases[] = {
      {"*", "*", ""},
      {"*?x", "/*", ""},                                   // only the whole target "*" stays
      {"/*", "/*", ""},
      {"/pelorin/index.htm", "/pelorin/index.htm", ""},
      {"/pelorin/index.htm?x=1", "/pelorin/index.htm", ""},
      {"\\pelorin\\index.htm", "/pelorin/index.htm", ""},
      {"/pelorin\\..\\user/", "/pelorin/../user/", ""},   // dots are not resolved
      {"http://host:8080/a/b?x", "/a/b", "host:8080"},
      {"HTTP://Host/A/B", "/A/B", "Host"},
      {"http://host", "/", "host"},
      {"http://host?x", "/", "host"},
      {"http:\\\\host\\a", "/a", "host"},                 // backslashes turn first
      {"/go/http://evil/x", "/x", "evil"},                 // "://" anywhere removes up to the host
      {"a/b", "/a/b", ""},
      {"a", "/a", ""},
      {"", "/", ""},
      {"/", "/", ""},
      {"/a/b#c", "/a/b", ""},
      {"/a/#c", "/a/", ""},
      {"/a#c/b", "/a#c/b", ""},                            // "#" cuts the document name only
      {"/a/b#c#d", "/a/b", ""},
      {"/a/%2e%2e/b%20c", "/a/%2e%2e/b%20c", ""},          // no percent-decoding
      {"/Pelorin/Index.HTM", "/Pelorin/Index.HTM", ""},
      {"//a", "//a", ""},
  };
  for (const auto& c : cases) {
    const TRequestPath result = PathFromTarget(c.target);
    EXPECT_EQ(c.path, result.Path) << c.target;
    EXPECT_EQ(c.host, result.HostName) << c.target;
  }
}

TEST(SplitRequestHeadTest, LinesUpToFirstEmptyLine) {
  const TRequestHead head = SplitRequestHead("GET / HTTP/1.1\r\nHost: a\r\nX: 1\nY: 2\r\n\r\nZ: body\r\n");
  EXPECT_EQ("GET / HTTP/1.1", head.RequestLine);
  EXPECT_EQ((std::vector<std::string>{"Host: a", "X: 1", "Y: 2"}), head.HeaderLines);
  EXPECT_TRUE(SplitRequestHead("").RequestLine.empty());
  EXPECT_TRUE(SplitRequestHead("GET / HTTP/1.1").HeaderLines.empty());
}

RequestInfo Assembled(const TRequestHead& head, std::string body = {}) {
  std::optional<RequestInfo> request = AssembleRequest(head, std::move(body), "192.0.2.7");
  EXPECT_TRUE(request.has_value()) << head.RequestLine;
  return request.value_or(RequestInfo{});
}

TEST(AssembleRequestTest, GetWithQuery) {
  const RequestInfo request = Assembled({"get /pelorin/list.htm?a=1&b=x+y HTTP/1.1", {"Host: book:9555"}});
  EXPECT_EQ("GET", request.Method);
  EXPECT_EQ("/pelorin/list.htm", request.Path);
  EXPECT_EQ("HTTP/1.1", request.Protocol);
  EXPECT_EQ("book:9555", request.HostName);
  EXPECT_EQ("192.0.2.7", request.PeerAddress);
  EXPECT_EQ("a=1&b=x+y", request.RawParams);
  EXPECT_EQ((std::vector<std::string>{"a=1", "b=x y"}), request.FormFields);
  EXPECT_TRUE(request.UserName.empty());
  EXPECT_TRUE(request.Password.empty());
}

TEST(AssembleRequestTest, PostBodyJoinsQuery) {
  const RequestInfo request = Assembled({"POST /a.htm?q=2&r=3 HTTP/1.1", {}}, "Command=insert&XML=x");
  EXPECT_EQ("Command=insert&XML=x\r\nq=2&r=3", request.RawParams);
  EXPECT_EQ((std::vector<std::string>{"Command=insert", "XML=x\r\nq=2", "r=3"}), request.FormFields);
}

TEST(AssembleRequestTest, HostNameFromAbsoluteTargetOnlyWithoutHostHeader) {
  EXPECT_EQ("h:1", Assembled({"GET http://h:1/a HTTP/1.1", {}}).HostName);
  EXPECT_EQ("h:1", Assembled({"GET http://h:1/a HTTP/1.1", {"Host:"}}).HostName);
  EXPECT_EQ("real", Assembled({"GET http://h:1/a HTTP/1.1", {"host: real"}}).HostName);
}

TEST(AssembleRequestTest, CredentialsAndHeadersAsReceived) {
  const std::vector<std::string> headers = {"authorization: basic dXNlcjpwOmFzcw==", "X-Other: 1"};
  const RequestInfo request = Assembled({"HEAD / HTTP/1.0", headers});
  EXPECT_EQ("user", request.UserName);
  EXPECT_EQ("p:ass", request.Password);
  EXPECT_EQ(headers, request.Headers);
  EXPECT_EQ("HEAD", request.Method);
  EXPECT_TRUE(request.FormFields.empty());
}

TEST(AssembleRequestTest, EmptyAuthorizationIsNoAuthorization) {
  const RequestInfo request = Assembled({"GET / HTTP/1.1", {"Authorization:   "}});
  EXPECT_TRUE(request.UserName.empty());
}

TEST(AssembleRequestTest, DroppedWithoutResponse) {
  const TRequestHead cases[] = {
      {"GET/index.htm", {}},
      {"", {}},
      {"PUT /a HTTP/1.1", {}},
      {"OPTIONS * HTTP/1.1", {}},
      {"GETX /a HTTP/1.1", {}},
      {"GET /a HTTP/1.1", {"Authorization: Digest x"}},
      {"GET /a HTTP/1.1", {"Authorization: Bearer abc", "Authorization: Basic dXNlcg=="}},  // first one counts
  };
  for (const auto& head : cases) {
    EXPECT_FALSE(AssembleRequest(head, {}, {}).has_value()) << head.RequestLine;
  }
}

}  // namespace
}  // namespace pelorin
