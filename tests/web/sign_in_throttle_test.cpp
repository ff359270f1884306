// The failure counting behind the sign-in lockout, with times chosen by the test:
// the sliding minute, the lock's exact end, what is counted once, the address
// groups a lock holds for, the slowing of one name tried from many addresses with
// its exemption for addresses that signed in, and the bound on what is remembered.
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
  for (int i = 0; i < count; ++i) locks += throttle.RecordFailure(user, address, at + seconds(i)).LockedPair ? 1 : 0;
  return locks;
}

TEST(SignInThrottleTest, FifthFailureWithinAMinuteLocksForSixtySeconds) {
  TSignInThrottle throttle;
  EXPECT_EQ(0, FailTimes(throttle, 4, kStart));
  EXPECT_FALSE(throttle.IsLocked("bob", "10.0.0.1", kStart + seconds(4)));
  const TClock::time_point fifth = kStart + seconds(59);  // still within a minute of the first
  EXPECT_TRUE(throttle.RecordFailure("bob", "10.0.0.1", fifth).LockedPair);
  EXPECT_TRUE(throttle.IsLocked("bob", "10.0.0.1", fifth));
  EXPECT_TRUE(throttle.IsLocked("bob", "10.0.0.1", fifth + seconds(60) - milliseconds(1)));
  EXPECT_FALSE(throttle.IsLocked("bob", "10.0.0.1", fifth + seconds(60)));
}

TEST(SignInThrottleTest, FailuresSpreadOverMoreThanAMinuteNeverLock) {
  TSignInThrottle throttle;
  // One failure every 15 s: never five inside one minute.
  for (int i = 0; i < 40; ++i) {
    EXPECT_FALSE(throttle.RecordFailure("bob", "10.0.0.1", kStart + seconds(15 * i)).LockedPair) << i;
  }
  EXPECT_FALSE(throttle.IsLocked("bob", "10.0.0.1", kStart + seconds(600)));
}

TEST(SignInThrottleTest, TheMinuteSlidesRatherThanRestarting) {
  TSignInThrottle throttle;
  // 0, 50, 55, 58 then 61 and 62: a window fixed at the first failure would
  // restart at 61; the failures from 50 to 62 are five within a minute.
  for (const int at : {0, 50, 55, 58, 61}) {
    EXPECT_FALSE(throttle.RecordFailure("bob", "10.0.0.1", kStart + seconds(at)).LockedPair) << at;
  }
  EXPECT_TRUE(throttle.RecordFailure("bob", "10.0.0.1", kStart + seconds(62)).LockedPair);
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
  EXPECT_TRUE(throttle.RecordFailure("bob", "10.0.0.1", kStart + seconds(68)).LockedPair);
}

TEST(SignInThrottleTest, SuccessForgetsEarlierFailures) {
  TSignInThrottle throttle;
  EXPECT_EQ(0, FailTimes(throttle, 4, kStart));
  throttle.RecordSuccess("BOB", "10.0.0.1", kStart + seconds(4));
  EXPECT_EQ(0u, throttle.TrackedPairs());
  EXPECT_EQ(0, FailTimes(throttle, 4, kStart + seconds(5)));
}

TEST(SignInThrottleTest, InventedNamesCannotGrowTheTableOrLiftALock) {
  TSignInThrottle throttle({.MaxTracked = 100});
  EXPECT_EQ(1, FailTimes(throttle, 5, kStart, "admin"));
  for (int i = 0; i < 1000; ++i) {
    throttle.RecordFailure("name" + std::to_string(i), "10.0.0.1", kStart + seconds(6));
    ASSERT_LE(throttle.TrackedPairs(), 100u);
    ASSERT_LE(throttle.TrackedNames(), 100u);
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
  EXPECT_TRUE(throttle.RecordFailure("a", "10.0.0.1", kStart + seconds(105)).LockedPair);
}

TEST(SignInThrottleAddressTest, OneLockHoldsForTheWholeAddressGroup) {
  const struct {
    const char* failing;  // the five failures come from this address...
    const char* other;    // ...and this one is locked as well, or not
    bool locked;
  } cases[] = {
      {"192.0.2.7", "192.0.2.7", true},
      {"192.0.2.7", "192.0.2.8", false},  // IPv4 addresses count alone
      {"192.0.2.7", "::ffff:192.0.2.7", true},
      {"::ffff:192.0.2.7", "192.0.2.7", true},
      {"::ffff:192.0.2.7", "::ffff:192.0.2.8", false},
      {"2001:db8:1:2::1", "2001:db8:1:2:ffff:ffff:ffff:ffff", true},  // a /64 is one client
      {"2001:db8:1:2::1", "2001:DB8:1:2:0:0:0:9", true},
      {"2001:db8:1:2::1", "2001:db8:1:3::1", false},
      {"2001:db8:1:2::1", "2001:db8:1:2::", true},
      {"fe80::1%eth0", "fe80::2", true},
      {"127.0.0.1", "::1", true},  // the local host by either family
      {"::1", "127.0.0.1", true},
      {"::1", "::ffff:127.0.0.1", true},
      {"::1", "127.0.0.2", false},
      {"::1", "::2", false},
      {"unknown", "unknown", true},  // no address: a group of its own
      {"unknown", "192.0.2.7", false},
      {"", "192.0.2.7", false},
  };
  for (const auto& c : cases) {
    TSignInThrottle throttle;
    EXPECT_EQ(1, FailTimes(throttle, 5, kStart, "bob", c.failing)) << c.failing;
    EXPECT_EQ(c.locked, throttle.IsLocked("bob", c.other, kStart + seconds(10))) << c.failing << " then " << c.other;
    EXPECT_EQ(c.locked, !throttle.MayCheck("bob", c.other, kStart + seconds(10))) << c.failing << " then " << c.other;
  }
}

TEST(SignInThrottleAddressTest, RotatingWithinASlash64AddsUp) {
  TSignInThrottle throttle;
  for (int i = 1; i <= 4; ++i) {
    EXPECT_FALSE(throttle.RecordFailure("bob", "2001:db8:0:7::" + std::to_string(i), kStart + seconds(i)).LockedPair);
  }
  EXPECT_TRUE(throttle.RecordFailure("bob", "2001:db8:0:7:abcd::5", kStart + seconds(5)).LockedPair);
  EXPECT_EQ(1u, throttle.TrackedPairs());
}

// Failures of one name from `count` distinct addresses (10.1.0.1 on), one second
// apart from `at`, none of them enough to lock its own pair.
void FailFromManyAddresses(TSignInThrottle& throttle, int count, TClock::time_point at, int first_address = 1) {
  for (int i = 0; i < count; ++i) {
    throttle.RecordFailure("bob", "10.1.0." + std::to_string(first_address + i), at + seconds(i));
  }
}

TEST(SignInThrottleNameTest, TenFailuresFromAnywhereAreFreeThenTheDelayDoublesToItsCap) {
  TSignInThrottle throttle;
  FailFromManyAddresses(throttle, 10, kStart);
  const TClock::time_point tenth = kStart + seconds(9);
  EXPECT_FALSE(throttle.IsDelayed("bob", "10.2.0.1", tenth));
  EXPECT_EQ(10u, throttle.TrackedPairs());
  // Each further failure holds the next check back for 1, 2, 4 ... s, at most 60 s.
  TClock::time_point at = tenth;
  int stranger = 0;
  for (const int want : {1, 2, 4, 8, 16, 32, 60, 60, 60}) {
    const std::string address = "10.3.0." + std::to_string(++stranger);
    ASSERT_TRUE(throttle.MayCheck("bob", address, at)) << want;
    throttle.RecordFailure("bob", address, at);
    const std::string next = "10.4.0." + std::to_string(stranger);
    EXPECT_TRUE(throttle.IsDelayed("bob", next, at)) << want;
    EXPECT_TRUE(throttle.IsDelayed("bob", next, at + seconds(want) - milliseconds(1))) << want;
    EXPECT_FALSE(throttle.IsDelayed("bob", next, at + seconds(want))) << want;
    EXPECT_FALSE(throttle.IsLocked("bob", next, at)) << want;  // a delay, not a lock
    at += seconds(want);
  }
  // Other names are not slowed.
  EXPECT_FALSE(throttle.IsDelayed("alice", "10.3.0.1", kStart + seconds(20)));
  EXPECT_TRUE(throttle.IsDelayed("BOB", "10.9.9.9", at - seconds(1)));
}

TEST(SignInThrottleNameTest, SlowingIsReportedOnceAndEndsWhenTheWindowEmpties) {
  TSignInThrottle throttle;
  FailFromManyAddresses(throttle, 10, kStart);
  EXPECT_TRUE(throttle.RecordFailure("bob", "10.2.0.1", kStart + seconds(10)).SlowedName);
  EXPECT_FALSE(throttle.RecordFailure("bob", "10.2.0.2", kStart + seconds(20)).SlowedName);
  // Fifteen minutes on, those failures no longer count: ten more are free again,
  // and the next one begins a new slowing, reported anew.
  const TClock::time_point later = kStart + seconds(900 + 21);
  FailFromManyAddresses(throttle, 10, later, 50);
  EXPECT_FALSE(throttle.IsDelayed("bob", "10.2.0.3", later + seconds(9)));
  EXPECT_TRUE(throttle.RecordFailure("bob", "10.2.0.3", later + seconds(10)).SlowedName);
  EXPECT_TRUE(throttle.IsDelayed("bob", "10.2.0.4", later + seconds(10)));
}

TEST(SignInThrottleNameTest, FailuresSpreadWiderThanTheWindowNeverSlow) {
  TSignInThrottle throttle;
  // One failure every 100 s: never more than ten within fifteen minutes.
  for (int i = 0; i < 50; ++i) {
    const TClock::time_point at = kStart + seconds(100 * i);
    EXPECT_FALSE(throttle.RecordFailure("bob", "10.1.1." + std::to_string(i), at).SlowedName) << i;
    EXPECT_FALSE(throttle.IsDelayed("bob", "10.2.0.1", at)) << i;
  }
}

TEST(SignInThrottleNameTest, AddressesThatSignedInLatelyAreNeverHeldBack) {
  TSignInThrottle throttle;
  throttle.RecordSuccess("Bob", "192.0.2.10", kStart);
  throttle.RecordSuccess("bob", "2001:db8:5:5::1", kStart);
  FailFromManyAddresses(throttle, 12, kStart + seconds(1));
  const TClock::time_point during = kStart + seconds(13);
  ASSERT_TRUE(throttle.IsDelayed("bob", "192.0.2.11", during));
  EXPECT_FALSE(throttle.IsDelayed("bob", "192.0.2.10", during));
  EXPECT_TRUE(throttle.MayCheck("BOB", "192.0.2.10", during));
  EXPECT_FALSE(throttle.IsDelayed("bob", "2001:db8:5:5::77", during));  // another address of the same /64
  EXPECT_TRUE(throttle.IsDelayed("bob", "2001:db8:5:6::1", during));
  // The owner's sign-in gives the guesser no fresh start.
  throttle.RecordSuccess("bob", "192.0.2.10", during);
  EXPECT_TRUE(throttle.IsDelayed("bob", "192.0.2.11", during));
  // A stranger's failures on the owner's own address do not hold the owner back either.
  throttle.RecordFailure("bob", "192.0.2.10", during);
  EXPECT_FALSE(throttle.IsDelayed("bob", "192.0.2.10", during + seconds(1)));
}

TEST(SignInThrottleNameTest, TheExemptionLapsesAWeekAfterTheLastSignIn) {
  TSignInThrottle throttle;
  const TClock::time_point signed_in = kStart;
  throttle.RecordSuccess("bob", "192.0.2.10", signed_in);
  const TClock::time_point week = signed_in + std::chrono::hours(24 * 7);
  FailFromManyAddresses(throttle, 14, week - seconds(20));  // the last delay runs 8 s past week - 7 s
  EXPECT_FALSE(throttle.IsDelayed("bob", "192.0.2.10", week - seconds(1)));
  EXPECT_TRUE(throttle.IsDelayed("bob", "192.0.2.10", week));
}

TEST(SignInThrottleNameTest, OnlyTheLatestGroupsOfANameAreRemembered) {
  TSignInThrottle throttle({.KnownGroupsPerName = 3});
  for (int i = 1; i <= 4; ++i) throttle.RecordSuccess("bob", "192.0.2." + std::to_string(i), kStart + seconds(i));
  EXPECT_EQ(1u, throttle.KnownNames());
  FailFromManyAddresses(throttle, 11, kStart + seconds(10));
  const TClock::time_point during = kStart + seconds(20);
  EXPECT_TRUE(throttle.IsDelayed("bob", "192.0.2.1", during));  // the oldest gave way
  for (const char* kept : {"192.0.2.2", "192.0.2.3", "192.0.2.4"}) EXPECT_FALSE(throttle.IsDelayed("bob", kept, during)) << kept;
}

TEST(SignInThrottleNameTest, InventedNamesCannotGrowTheTablesOrLiftADelay) {
  TSignInThrottle throttle({.MaxTracked = 50});
  FailFromManyAddresses(throttle, 11, kStart);
  const TClock::time_point flood = kStart + seconds(10);  // the delay runs until kStart + 11 s
  for (int i = 0; i < 1000; ++i) {
    throttle.RecordFailure("name" + std::to_string(i), "10.7." + std::to_string(i / 250) + "." + std::to_string(i % 250),
                           flood);
    throttle.RecordSuccess("user" + std::to_string(i), "10.8.0.1", flood);
    ASSERT_LE(throttle.TrackedNames(), 50u);
    ASSERT_LE(throttle.TrackedPairs(), 50u);
    ASSERT_LE(throttle.KnownNames(), 50u);
  }
  EXPECT_TRUE(throttle.IsDelayed("bob", "10.2.0.1", flood));
}

}  // namespace
}  // namespace pelorin
