// The sign-in lockout as the dispatcher applies it: five failed sign-ins of one
// name from one address lock that pair out, the right password included, with one
// log line; other names, other addresses and logouts are not affected. Behind a
// trusted proxy the client is the one X-Forwarded-For names; and a name failing
// from many addresses is slowed for all but the addresses that signed in as it.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/service/web_fixture.h"

namespace pelorin::testing {
namespace {

constexpr char kLockLine[] = ": User (Alice/********) locked for 60 s.\r\n";

class SignInLockoutTest : public TWebTest {
 protected:
  void SetUp() override {}

  int FailedSignIns(int count, const std::string& user = "Alice") {
    int challenges = 0;
    for (int i = 0; i < count; ++i) {
      challenges += Send("GET", "/x.txt", "", user, "guess" + std::to_string(i)).Realm.empty() ? 0 : 1;
    }
    return challenges;
  }
  // Failed sign-ins as from a client behind the proxy at peer_address_.
  int FailedSignInsVia(int count, const std::string& forwarded_for) {
    int challenges = 0;
    for (int i = 0; i < count; ++i) {
      challenges += SendVia(forwarded_for, "guess" + std::to_string(i)).Realm.empty() ? 0 : 1;
    }
    return challenges;
  }
  ResponseInfo SendVia(const std::string& forwarded_for, const std::string& password = "Secret1") {
    return Send("GET", "/x.txt", "", "Alice", password, {"X-Forwarded-For: " + forwarded_for});
  }
  void StartTrusting(const std::string& proxies_xml) {
    WriteStores(std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xConfig><ServiceProviderPort>0"
                            "</ServiceProviderPort>") + proxies_xml + "</xConfig>",
                "<xBase/>");
    ASSERT_TRUE(Start());
  }
  // A throttle whose delays outlast the test, so that no request races the clock.
  void UseLongDelays() {
    TStoreGuard guard(service_->StoreLock);
    service_->SignInThrottle = TSignInThrottle({.FirstDelay = std::chrono::hours(1), .MaxDelay = std::chrono::hours(1)});
  }
  static std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
  }
};

TEST_F(SignInLockoutTest, FifthFailureLocksTheRightPasswordOutAndIsLoggedOnce) {
  StartWith("<xBase/>");
  EXPECT_EQ(4, FailedSignIns(4));
  EXPECT_EQ(200, Send("GET", "/x.txt", "").StatusCode);  // four failures lock nothing
  EXPECT_EQ(5, FailedSignIns(5));
  const ResponseInfo locked = Send("GET", "/x.txt", "");
  EXPECT_EQ("Please select your account.", locked.Realm);
  EXPECT_EQ(locked.Body, Send("GET", "/x.txt", "", "Alice", "wrong").Body);  // the same challenge
  FailedSignIns(10);
  const std::string log = LogText();
  EXPECT_EQ(1u, Count(log, kLockLine)) << log;
  // Attempts during the lock are not checked, so they are not logged as failures:
  // only the four before the good sign-in and the five that locked.
  EXPECT_EQ(9u, Count(log, "User (Alice/********) check failed.")) << log;
  EXPECT_EQ(std::string::npos, log.find("guess")) << log;
}

TEST_F(SignInLockoutTest, OtherAddressesAndOtherNamesStillSignIn) {
  StartWith("<xBase/>");
  EXPECT_EQ(5, FailedSignIns(5, "ALICE"));  // the name counts without regard to case
  EXPECT_FALSE(Send("GET", "/x.txt", "").Realm.empty());
  EXPECT_EQ(200, Send("GET", "/x.txt", "", "bob", "pw").StatusCode);
  peer_address_ = "192.0.2.2";
  EXPECT_EQ(200, Send("GET", "/x.txt", "").StatusCode);
}

TEST_F(SignInLockoutTest, ASuccessfulSignInResetsTheCount) {
  StartWith("<xBase/>");
  EXPECT_EQ(4, FailedSignIns(4));
  EXPECT_EQ(200, Send("GET", "/x.txt", "").StatusCode);
  EXPECT_EQ(4, FailedSignIns(4));
  EXPECT_EQ(200, Send("GET", "/x.txt", "").StatusCode);
  EXPECT_EQ(std::string::npos, LogText().find("locked for"));
}

TEST_F(SignInLockoutTest, LoggingOutIsNoFailedSignIn) {
  StartWith("<xBase/>");
  // Each logout refuses the next check once; the password was right all along.
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(302, Send("GET", "/logout", "").StatusCode);
    EXPECT_FALSE(Send("GET", "/x.txt", "").Realm.empty());
  }
  EXPECT_EQ(200, Send("GET", "/x.txt", "").StatusCode);
  EXPECT_EQ(std::string::npos, LogText().find("locked for"));
}

TEST_F(SignInLockoutTest, AnIPv6ClientRotatingWithinItsSlash64StaysLocked) {
  StartWith("<xBase/>");
  for (int i = 1; i <= 5; ++i) {
    peer_address_ = "2001:db8:7:7::" + std::to_string(i);
    EXPECT_EQ(1, FailedSignIns(1));
  }
  EXPECT_EQ(1u, Count(LogText(), kLockLine));
  peer_address_ = "2001:db8:7:7:1234::99";
  EXPECT_FALSE(Send("GET", "/x.txt", "").Realm.empty());
  peer_address_ = "2001:db8:7:8::1";
  EXPECT_EQ(200, Send("GET", "/x.txt", "").StatusCode);
}

TEST_F(SignInLockoutTest, BehindATrustedProxyTheForwardedClientIsLocked) {
  StartTrusting("<TrustedProxy>192.0.2.1</TrustedProxy><TrustedProxy> 2001:db8::1 </TrustedProxy>");
  EXPECT_EQ(5, FailedSignInsVia(5, "198.51.100.7"));
  EXPECT_EQ(1u, Count(LogText(), kLockLine));
  EXPECT_FALSE(SendVia("198.51.100.7").Realm.empty());
  // What the client put in front of the proxy's entry changes nothing.
  EXPECT_FALSE(SendVia("203.0.113.1, 198.51.100.7").Realm.empty());
  // The same client through a second trusted proxy.
  EXPECT_FALSE(SendVia("198.51.100.7, 2001:db8::1").Realm.empty());
  // Everybody else behind the proxy signs in, and so does the proxy itself.
  EXPECT_EQ(200, SendVia("198.51.100.8").StatusCode);
  EXPECT_EQ(200, Send("GET", "/x.txt", "").StatusCode);
  // An entry that is no address counts as the proxy, which is not locked.
  EXPECT_EQ(200, SendVia("unknown").StatusCode);
}

TEST_F(SignInLockoutTest, AnUntrustedPeerCannotChooseItsAddress) {
  StartTrusting("<TrustedProxy>192.0.2.1</TrustedProxy><TrustedProxy>proxy.example</TrustedProxy>");
  EXPECT_NE(std::string::npos, LogText().find(": Trusted proxy is not an address: proxy.example\r\n"));
  peer_address_ = "192.0.2.99";
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(SendVia("198.51.100." + std::to_string(i), "guess").Realm.empty());
  EXPECT_EQ(1u, Count(LogText(), kLockLine));
  EXPECT_FALSE(SendVia("198.51.100.200").Realm.empty());  // the header is ignored
  peer_address_ = "192.0.2.1";
  EXPECT_EQ(200, SendVia("192.0.2.99").StatusCode) << "the peer's lock must not reach a forwarded 192.0.2.99";
}

TEST_F(SignInLockoutTest, WithoutTrustedProxiesForwardedForIsIgnored) {
  StartWith("<xBase/>");
  EXPECT_EQ(5, FailedSignInsVia(5, "198.51.100.7"));
  EXPECT_FALSE(SendVia("198.51.100.8").Realm.empty());
  peer_address_ = "192.0.2.2";
  EXPECT_EQ(200, SendVia("198.51.100.7").StatusCode);
}

TEST_F(SignInLockoutTest, ANameFailingFromManyAddressesIsSlowedButNotForItsOwner) {
  StartWith("<xBase/>");
  UseLongDelays();
  ASSERT_EQ(200, Send("GET", "/x.txt", "").StatusCode);  // Alice signs in from 192.0.2.1
  for (int i = 0; i < 10; ++i) {
    peer_address_ = "198.51.100." + std::to_string(i);
    EXPECT_EQ(1, FailedSignIns(1));
  }
  EXPECT_EQ(std::string::npos, LogText().find("sign-ins slowed"));
  peer_address_ = "198.51.100.10";
  EXPECT_EQ(1, FailedSignIns(1));  // the eleventh
  EXPECT_EQ(1u, Count(LogText(), ": User (Alice/********) failing from many addresses: sign-ins slowed.\r\n"));
  // A stranger, even with the right password, gets the challenge unchecked.
  peer_address_ = "203.0.113.5";
  EXPECT_EQ("Please select your account.", Send("GET", "/x.txt", "").Realm);
  EXPECT_EQ(11u, Count(LogText(), "User (Alice/********) check failed."));
  // The owner's address is not held back, nor are other names.
  peer_address_ = "192.0.2.1";
  EXPECT_EQ(200, Send("GET", "/x.txt", "").StatusCode);
  peer_address_ = "203.0.113.5";
  EXPECT_EQ(200, Send("GET", "/x.txt", "", "bob", "pw").StatusCode);
  EXPECT_EQ(std::string::npos, LogText().find("locked for"));
}

TEST_F(SignInLockoutTest, BehindAProxyTheOwnerIsKnownByTheForwardedAddress) {
  StartTrusting("<TrustedProxy>192.0.2.1</TrustedProxy>");
  UseLongDelays();
  ASSERT_EQ(200, SendVia("198.51.100.1").StatusCode);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(1, FailedSignInsVia(1, "203.0.113." + std::to_string(i)));
  EXPECT_FALSE(SendVia("203.0.113.100").Realm.empty());
  EXPECT_FALSE(Send("GET", "/x.txt", "").Realm.empty());  // the proxy itself never signed in
  EXPECT_EQ(200, SendVia("198.51.100.1").StatusCode);
}

}  // namespace
}  // namespace pelorin::testing
