// "Expect: 100-continue" against the real executable over a raw socket: the
// interim answer comes before the client sends its body, the final answer after
// it; a declared length over the limit is refused at once, and requests that
// cannot have asked, or have no body to wait for, get no interim answer.
#include <sys/socket.h>
#include <sys/time.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/http/server_process.h"

namespace pelorin::testing {
namespace {

constexpr char kUsers[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xUser>"
    "<User><USER>bob</USER><PASSWORD>pw</PASSWORD><NAME>Bob</NAME></User>"
    "</xUser>";
constexpr char kCards[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase/>";
constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
// The server's limit on a request body.
constexpr unsigned long long kBodyLimit = 64ull * 1024 * 1024;
// A posted form that changes nothing; its answer is a 302 without Location.
constexpr char kForm[] = "Command=none";

class ExpectContinueProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(app_.File("config/config.xml"), TAppDir::ConfigWithPort(port_));
    WriteFile(app_.File("pelorin/base.xml"), kCards);
    WriteFile(app_.File("user/user.xml"), kUsers);
    server_ = std::make_unique<TServerProcess>(app_.Executable());
    ASSERT_TRUE(server_->WaitForPort(port_)) << app_.LogText();
  }

  std::string Head(const std::string& version, const std::string& length, const std::string& expect) {
    std::string head = "POST /pelorin/index.htm " + version + "\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                       "Authorization: " + BasicCredentials("bob", "pw") +
                       "\r\nContent-Type: application/x-www-form-urlencoded\r\n";
    if (!length.empty()) head += "Content-Length: " + length + "\r\n";
    if (!expect.empty()) head += "Expect: " + expect + "\r\n";
    return head + "\r\n";
  }

  // Reads until the end of one head (or the peer closes, or 5 s pass without a
  // byte): what a client waiting for the interim answer sees.
  static std::string ReadOneHead(int fd) {
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string bytes;
    char c = 0;
    while (bytes.find("\r\n\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1) bytes += c;
    return bytes;
  }

  TAppDir app_;
  std::uint16_t port_ = FreePort();
  std::unique_ptr<TServerProcess> server_;
};

TEST_F(ExpectContinueProcessTest, InterimAnswerComesBeforeTheBodyIsSent) {
  for (const std::string expect : {"100-continue", "100-Continue"}) {
    TSocket socket(ConnectLoopback(port_));
    ASSERT_GE(socket.get(), 0);
    ASSERT_TRUE(SendAll(socket.get(), Head("HTTP/1.1", std::to_string(sizeof kForm - 1), expect)));
    EXPECT_EQ(kContinue, ReadOneHead(socket.get())) << expect;
    const THttpAnswer answer = ParseAnswer(ExchangeOver(socket.get(), kForm));
    EXPECT_EQ(302, answer.Status) << expect;
    EXPECT_EQ("", HeaderOf(answer, "Location"));
  }
}

TEST_F(ExpectContinueProcessTest, ChunkedBodyIsInvitedToo) {
  TSocket socket(ConnectLoopback(port_));
  ASSERT_GE(socket.get(), 0);
  std::string head = Head("HTTP/1.1", "", "100-continue");
  head.insert(head.size() - 2, "Transfer-Encoding: chunked\r\n");
  ASSERT_TRUE(SendAll(socket.get(), head));
  EXPECT_EQ(kContinue, ReadOneHead(socket.get()));
  EXPECT_EQ(302, ParseAnswer(ExchangeOver(socket.get(), "c\r\nCommand=none\r\n0\r\n\r\n")).Status);
}

TEST_F(ExpectContinueProcessTest, DeclaredLengthOverTheLimitIsRefusedWithoutAnInterimAnswer) {
  TSocket socket(ConnectLoopback(port_));
  ASSERT_GE(socket.get(), 0);
  ASSERT_TRUE(SendAll(socket.get(), Head("HTTP/1.1", std::to_string(kBodyLimit + 1), "100-continue")));
  const std::string answer = ReadUntilClosed(socket.get());
  EXPECT_TRUE(answer.starts_with("HTTP/1.1 413 Payload Too Large\r\n")) << answer;
  EXPECT_EQ(std::string::npos, answer.find("100 Continue")) << answer;

  // At the limit exactly the body is wanted, so the client is invited to send it.
  TSocket at_limit(ConnectLoopback(port_));
  ASSERT_GE(at_limit.get(), 0);
  ASSERT_TRUE(SendAll(at_limit.get(), Head("HTTP/1.1", std::to_string(kBodyLimit), "100-continue")));
  EXPECT_EQ(kContinue, ReadOneHead(at_limit.get()));
}

TEST_F(ExpectContinueProcessTest, NoInterimAnswerWhereNoneWasAskedForOrNoBodyFollows) {
  const struct {
    const char* what;
    std::string request;
  } cases[] = {
      // An HTTP/1.0 client cannot have asked: the expectation is ignored.
      {"HTTP/1.0", Head("HTTP/1.0", std::to_string(sizeof kForm - 1), "100-continue") + kForm},
      {"no expectation", Head("HTTP/1.1", std::to_string(sizeof kForm - 1), "") + kForm},
      {"another expectation", Head("HTTP/1.1", std::to_string(sizeof kForm - 1), "something-else") + kForm},
      // Nothing to wait for: the final answer at once.
      {"empty body", Head("HTTP/1.1", "0", "100-continue")},
  };
  for (const auto& c : cases) {
    const std::string answer = Exchange(port_, c.request);
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 302 Moved Temporarily\r\n")) << c.what << ": " << answer;
    EXPECT_EQ(std::string::npos, answer.find("100 Continue")) << c.what;
  }
}

}  // namespace
}  // namespace pelorin::testing
