// The sign-in lockout of the real executable over the wire, from 127.0.0.1 and
// from ::1: both are the local host, so a lock earned over one family holds over
// the other; and behind a proxy named in the configuration store the client is
// the one its X-Forwarded-For names, while the header of any other peer is ignored.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/http/server_process.h"

namespace pelorin::testing {
namespace {

constexpr char kUsers[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xUser>"
    "<User><USER>admin</USER><PASSWORD>admin</PASSWORD><NAME>Administrator</NAME><ADMIN/></User>"
    "<User><USER>bob</USER><PASSWORD>pw</PASSWORD><NAME>Bob</NAME></User>"
    "</xUser>";
constexpr char kCards[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase/>";

enum class TFamily { V4, V6 };

class SignInProcessTest : public ::testing::Test {
 protected:
  void StartWith(const std::string& config_elements) {
    std::string config = TAppDir::ConfigWithPort(port_);
    config.insert(config.rfind("</xConfig>"), config_elements);
    WriteFile(app_.File("config/config.xml"), config);
    WriteFile(app_.File("pelorin/base.xml"), kCards);
    WriteFile(app_.File("user/user.xml"), kUsers);
    server_ = std::make_unique<TServerProcess>(app_.Executable());
    ASSERT_TRUE(server_->WaitForPort(port_)) << app_.LogText();
  }
  bool HasIPv6Loopback() const {
    TSocket probe(ConnectLoopbackV6(port_));
    return probe.get() >= 0;
  }

  // The status of one GET of an empty page, 0 when nothing came back.
  int SignIn(TFamily family, const std::string& user, const std::string& password,
             const std::string& extra_headers = "") {
    TSocket socket(family == TFamily::V4 ? ConnectLoopback(port_) : ConnectLoopbackV6(port_));
    const std::string request = "GET /pelorin/x.txt HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
                                "Authorization: " + BasicCredentials(user, password) + "\r\n" + extra_headers + "\r\n";
    return ParseAnswer(ExchangeOver(socket.get(), request)).Status;
  }
  static std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
  }

  TAppDir app_;
  std::uint16_t port_ = FreePort();
  std::unique_ptr<TServerProcess> server_;
};

TEST_F(SignInProcessTest, ALockEarnedOverOneLoopbackFamilyHoldsOverTheOther) {
  StartWith("");
  if (!HasIPv6Loopback()) GTEST_SKIP() << "this host has no IPv6 loopback (::1) to connect from";
  for (int i = 0; i < 5; ++i) EXPECT_EQ(401, SignIn(TFamily::V4, "bob", "guess" + std::to_string(i)));
  EXPECT_EQ(1u, Count(app_.LogText(), ": User (bob/********) locked for 60 s.\r\n")) << app_.LogText();
  EXPECT_EQ(401, SignIn(TFamily::V6, "bob", "pw"));
  EXPECT_EQ(401, SignIn(TFamily::V4, "bob", "pw"));
  EXPECT_EQ(200, SignIn(TFamily::V6, "admin", "admin"));  // other names are not locked

  for (int i = 0; i < 5; ++i) EXPECT_EQ(401, SignIn(TFamily::V6, "admin", "guess" + std::to_string(i)));
  EXPECT_EQ(1u, Count(app_.LogText(), ": User (admin/********) locked for 60 s.\r\n")) << app_.LogText();
  EXPECT_EQ(401, SignIn(TFamily::V4, "admin", "admin"));
}

TEST_F(SignInProcessTest, OnlyATrustedProxyNamesTheClient) {
  StartWith("  <TrustedProxy>127.0.0.1</TrustedProxy>\r\n");
  const std::string locked_client = "X-Forwarded-For: 198.51.100.7\r\n";
  for (int i = 0; i < 5; ++i) EXPECT_EQ(401, SignIn(TFamily::V4, "bob", "guess" + std::to_string(i), locked_client));
  EXPECT_EQ(1u, Count(app_.LogText(), ": User (bob/********) locked for 60 s.\r\n")) << app_.LogText();
  EXPECT_EQ(401, SignIn(TFamily::V4, "bob", "pw", locked_client));
  EXPECT_EQ(401, SignIn(TFamily::V4, "bob", "pw", "X-Forwarded-For: 10.0.0.1, 198.51.100.7\r\n"));
  EXPECT_EQ(200, SignIn(TFamily::V4, "bob", "pw", "X-Forwarded-For: 198.51.100.8\r\n"));
  EXPECT_EQ(200, SignIn(TFamily::V4, "bob", "pw"));  // the proxy itself
  if (!HasIPv6Loopback()) GTEST_SKIP() << "this host has no IPv6 loopback (::1) to connect from";
  // ::1 is not named as a proxy: its header is ignored, and the client is ::1.
  EXPECT_EQ(200, SignIn(TFamily::V6, "bob", "pw", locked_client));
}

}  // namespace
}  // namespace pelorin::testing
