#include "web/response_writer.h"

#include <gtest/gtest.h>

namespace pelorin {
namespace {

TEST(ComposeResponseTest, GoldenBytes) {
  const auto make = [](auto&& fill) {
    ResponseInfo response;
    fill(response);
    return response;
  };
  const struct {
    const char* name;
    ResponseInfo response;
    const char* method;
    std::string want;
  } cases[] = {
      {"page", make([](ResponseInfo& r) { r.AddRawHeader("Cache-Control: max-age=0"); r.Body = "<p/>"; }), "GET",
       "HTTP/1.1 200 OK\r\nCache-Control: max-age=0\r\nServer: Pelorin/1.0.1\r\nContent-Type: text/html\r\n"
       "Content-Length: 4\r\n\r\n<p/>"},
      {"empty body has no Content-Length", make([](ResponseInfo&) {}), "GET",
       "HTTP/1.1 200 OK\r\nServer: Pelorin/1.0.1\r\nContent-Type: text/html\r\n\r\n"},
      {"HEAD keeps the length, sends no body", make([](ResponseInfo& r) { r.Body = "hello"; }), "HEAD",
       "HTTP/1.1 200 OK\r\nServer: Pelorin/1.0.1\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\n"},
      {"challenge", make([](ResponseInfo& r) {
         r.AddRawHeader("Cache-Control: max-age=0");
         r.Realm = "Please select your account.";
         r.Body = "book web service. Account required.";
       }),
       "GET",
       "HTTP/1.1 401 Unauthorized\r\nCache-Control: max-age=0\r\nServer: Pelorin/1.0.1\r\nContent-Type: text/html\r\n"
       "Content-Length: 35\r\nWWW-Authenticate: Basic realm=\"Please select your account.\"\r\n\r\n"
       "book web service. Account required."},
      {"redirect", make([](ResponseInfo& r) { r.AddRawHeader("Cache-Control: max-age=0"); r.RedirectTo("../pelorin/index.htm"); }),
       "POST",
       "HTTP/1.1 302 Moved Temporarily\r\nCache-Control: max-age=0\r\nLocation: ../pelorin/index.htm\r\n"
       "Server: Pelorin/1.0.1\r\nContent-Type: text/html\r\n\r\n"},
      {"type set by name where the handler put it", make([](ResponseInfo& r) {
         r.AddRawHeader("content-type: x/y");
         r.AddRawHeader("Content-Length: 99");
         r.BodyType = "text/vnd.wap.wml";
       }),
       "GET", "HTTP/1.1 200 OK\r\nContent-Type: text/vnd.wap.wml\r\nServer: Pelorin/1.0.1\r\n\r\n"},
      {"binary body", make([](ResponseInfo& r) { r.BodyType = "image/gif"; r.Body = std::string("G\0F", 3); }), "GET",
       "HTTP/1.1 200 OK\r\nServer: Pelorin/1.0.1\r\nContent-Type: image/gif\r\nContent-Length: 3\r\n\r\n" +
           std::string("G\0F", 3)},
      {"line breaks cannot start a header of their own",
       make([](ResponseInfo& r) { r.RedirectTo("a.htm\r\nSet-Cookie: x=1"); }), "GET",
       "HTTP/1.1 302 Moved Temporarily\r\nLocation: a.htm%0D%0ASet-Cookie: x=1\r\nServer: Pelorin/1.0.1\r\n"
       "Content-Type: text/html\r\n\r\n"},
      {"line breaks in any other header line are dropped",
       make([](ResponseInfo& r) { r.AddRawHeader("X-Note: a\r\nSet-Cookie: x=1"); }), "GET",
       "HTTP/1.1 200 OK\r\nX-Note: aSet-Cookie: x=1\r\nServer: Pelorin/1.0.1\r\nContent-Type: text/html\r\n\r\n"},
      {"empty lines cannot end the head early", make([](ResponseInfo& r) {
         r.AddRawHeader("");
         r.AddRawHeader("\r\n");
         r.Body = "b";
       }),
       "GET", "HTTP/1.1 200 OK\r\nServer: Pelorin/1.0.1\r\nContent-Type: text/html\r\nContent-Length: 1\r\n\r\nb"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, ComposeResponse(c.response, c.method)) << c.name;
}

TEST(ComposeResponseTest, FailureBecomes500WithMessage) {
  ResponseInfo response;
  response.AddRawHeader("Cache-Control: max-age=0");
  response.SetStatus(500);
  response.Body = "Error opening file: /x";
  EXPECT_EQ(
      "HTTP/1.1 500 Internal Server Error\r\nCache-Control: max-age=0\r\nServer: Pelorin/1.0.1\r\n"
      "Content-Type: text/html\r\nContent-Length: 22\r\n\r\nError opening file: /x",
      ComposeResponse(response, "GET"));
}

TEST(FinishResponseTest, RealmOverridesStatus) {
  ResponseInfo response;
  response.SetStatus(403);
  response.Realm = "r";
  FinishResponse(response);
  EXPECT_EQ(401, response.StatusCode);
  EXPECT_EQ("Unauthorized", response.StatusText);
  EXPECT_EQ("WWW-Authenticate: Basic realm=\"r\"", response.ExtraHeaders.back());
}

}  // namespace
}  // namespace pelorin
