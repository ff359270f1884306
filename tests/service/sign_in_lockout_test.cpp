// The sign-in lockout as the dispatcher applies it: five failed sign-ins of one
// name from one address lock that pair out, the right password included, with one
// log line; other names, other addresses and logouts are not affected.
#include <string>

#include <gtest/gtest.h>

#include "tests/service/web_fixture.h"

namespace pelorin::testing {
namespace {

constexpr char kLockLine[] = ": User (Alice/********) locked for 60 s.\r\n";

class SignInLockoutTest : public TWebTest {
 protected:
  void SetUp() override { StartWith("<xBase/>"); }

  int FailedSignIns(int count, const std::string& user = "Alice") {
    int challenges = 0;
    for (int i = 0; i < count; ++i) {
      challenges += Send("GET", "/x.txt", "", user, "guess" + std::to_string(i)).Realm.empty() ? 0 : 1;
    }
    return challenges;
  }
  static std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
  }
};

TEST_F(SignInLockoutTest, FifthFailureLocksTheRightPasswordOutAndIsLoggedOnce) {
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
  EXPECT_EQ(5, FailedSignIns(5, "ALICE"));  // the name counts without regard to case
  EXPECT_FALSE(Send("GET", "/x.txt", "").Realm.empty());
  EXPECT_EQ(200, Send("GET", "/x.txt", "", "bob", "pw").StatusCode);
  peer_address_ = "192.0.2.2";
  EXPECT_EQ(200, Send("GET", "/x.txt", "").StatusCode);
}

TEST_F(SignInLockoutTest, ASuccessfulSignInResetsTheCount) {
  EXPECT_EQ(4, FailedSignIns(4));
  EXPECT_EQ(200, Send("GET", "/x.txt", "").StatusCode);
  EXPECT_EQ(4, FailedSignIns(4));
  EXPECT_EQ(200, Send("GET", "/x.txt", "").StatusCode);
  EXPECT_EQ(std::string::npos, LogText().find("locked for"));
}

TEST_F(SignInLockoutTest, LoggingOutIsNoFailedSignIn) {
  // Each logout refuses the next check once; the password was right all along.
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(302, Send("GET", "/logout", "").StatusCode);
    EXPECT_FALSE(Send("GET", "/x.txt", "").Realm.empty());
  }
  EXPECT_EQ(200, Send("GET", "/x.txt", "").StatusCode);
  EXPECT_EQ(std::string::npos, LogText().find("locked for"));
}

}  // namespace
}  // namespace pelorin::testing
