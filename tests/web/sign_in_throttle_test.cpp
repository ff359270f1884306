// The failure counting behind the sign-in lockout, with times chosen by the test:
// the sliding minute, the lock's exact end, what is counted once, and the bound
// on what is remembered.
#include "web/sign_in_throttle.h"

#include <string>

#include <gtest/gtest.h>

namespace pelorin {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using TClock = TSignInThrottle::TClock;

const TClock::time_point kStart = TClock::time_point{} + std::chrono::hours(1);

// Fails `count` times, one second apart from `at`; reports how many locked.
int FailTimes(TSignInThrottle& throttle, int count, TClock::time_point at, const std::string& user = "bob",
              const std::string& address = "10.0.0.1") {
  int locks = 0;
  for (int i = 0; i < count; ++i) locks += throttle.RecordFailure(user, address, at + seconds(i)) ? 1 : 0;
  return locks;
}

TEST(SignInThrottleTest, FifthFailureWithinAMinuteLocksForSixtySeconds) {
  TSignInThrottle throttle;
  EXPECT_EQ(0, FailTimes(throttle, 4, kStart));
  EXPECT_FALSE(throttle.IsLocked("bob", "10.0.0.1", kStart + seconds(4)));
  const TClock::time_point fifth = kStart + seconds(59);  // still within a minute of the first
  EXPECT_TRUE(throttle.RecordFailure("bob", "10.0.0.1", fifth));
  EXPECT_TRUE(throttle.IsLocked("bob", "10.0.0.1", fifth));
  EXPECT_TRUE(throttle.IsLocked("bob", "10.0.0.1", fifth + seconds(60) - milliseconds(1)));
  EXPECT_FALSE(throttle.IsLocked("bob", "10.0.0.1", fifth + seconds(60)));
}

TEST(SignInThrottleTest, FailuresSpreadOverMoreThanAMinuteNeverLock) {
  TSignInThrottle throttle;
  // One failure every 15 s: never five inside one minute.
  for (int i = 0; i < 40; ++i) {
    EXPECT_FALSE(throttle.RecordFailure("bob", "10.0.0.1", kStart + seconds(15 * i))) << i;
  }
  EXPECT_FALSE(throttle.IsLocked("bob", "10.0.0.1", kStart + seconds(600)));
}

TEST(SignInThrottleTest, TheMinuteSlidesRatherThanRestarting) {
  TSignInThrottle throttle;
  // 0, 50, 55, 58 then 61 and 62: a window fixed at the first failure would
  // restart at 61; the failures from 50 to 62 are five within a minute.
  for (const int at : {0, 50, 55, 58, 61}) {
    EXPECT_FALSE(throttle.RecordFailure("bob", "10.0.0.1", kStart + seconds(at))) << at;
  }
  EXPECT_TRUE(throttle.RecordFailure("bob", "10.0.0.1", kStart + seconds(62)));
}

TEST(SignInThrottleTest, PairsAreIndependentAndNamesIgnoreCase) {
  TSignInThrottle throttle;
  EXPECT_EQ(1, FailTimes(throttle, 5, kStart, "Bob", "10.0.0.1"));
  const TClock::time_point later = kStart + seconds(10);
  EXPECT_TRUE(throttle.IsLocked("BOB", "10.0.0.1", later));
  EXPECT_FALSE(throttle.IsLocked("bob", "10.0.0.2", later));
  EXPECT_FALSE(throttle.IsLocked("alice", "10.0.0.1", later));
  // Failures of two addresses do not add up for either.
  EXPECT_EQ(0, FailTimes(throttle, 4, kStart, "carol", "10.0.0.1"));
  EXPECT_EQ(0, FailTimes(throttle, 4, kStart, "carol", "10.0.0.2"));
}

TEST(SignInThrottleTest, LockIsReportedOnceAndNotExtendedByAttemptsDuringIt) {
  TSignInThrottle throttle;
  EXPECT_EQ(1, FailTimes(throttle, 5, kStart));
  // Attempts while locked are not checked, so they are not failures either.
  EXPECT_EQ(0, FailTimes(throttle, 30, kStart + seconds(5)));
  EXPECT_FALSE(throttle.IsLocked("bob", "10.0.0.1", kStart + seconds(64)));
  // After the lock the count starts afresh: four more failures do not lock again.
  EXPECT_EQ(0, FailTimes(throttle, 4, kStart + seconds(64)));
  EXPECT_TRUE(throttle.RecordFailure("bob", "10.0.0.1", kStart + seconds(68)));
}

TEST(SignInThrottleTest, SuccessForgetsEarlierFailures) {
  TSignInThrottle throttle;
  EXPECT_EQ(0, FailTimes(throttle, 4, kStart));
  throttle.RecordSuccess("BOB", "10.0.0.1");
  EXPECT_EQ(0u, throttle.TrackedPairs());
  EXPECT_EQ(0, FailTimes(throttle, 4, kStart + seconds(5)));
}

TEST(SignInThrottleTest, InventedNamesCannotGrowTheTableOrLiftALock) {
  TSignInThrottle throttle({.MaxTracked = 100});
  EXPECT_EQ(1, FailTimes(throttle, 5, kStart, "admin"));
  for (int i = 0; i < 1000; ++i) {
    throttle.RecordFailure("name" + std::to_string(i), "10.0.0.1", kStart + seconds(6));
    ASSERT_LE(throttle.TrackedPairs(), 100u);
  }
  EXPECT_TRUE(throttle.IsLocked("admin", "10.0.0.1", kStart + seconds(30)));
}

TEST(SignInThrottleTest, ExpiredPairsAreDroppedBeforeLiveOnes) {
  TSignInThrottle throttle({.MaxTracked = 3});
  throttle.RecordFailure("old", "10.0.0.1", kStart);
  throttle.RecordFailure("a", "10.0.0.1", kStart + seconds(100));
  throttle.RecordFailure("b", "10.0.0.1", kStart + seconds(100));
  // "old" failed more than a minute ago: it gives way, "a" and "b" keep counting.
  throttle.RecordFailure("c", "10.0.0.1", kStart + seconds(101));
  EXPECT_EQ(3u, throttle.TrackedPairs());
  EXPECT_EQ(0, FailTimes(throttle, 3, kStart + seconds(102), "a"));
  EXPECT_TRUE(throttle.RecordFailure("a", "10.0.0.1", kStart + seconds(105)));
}

}  // namespace
}  // namespace pelorin
