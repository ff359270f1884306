// The save timer's rules: enabling an enabled timer keeps its period, disabling
// drops the due tick, ticks repeat while enabled and run on the loop's thread.
#include "service/timer.h"

#include <chrono>
#include <memory>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>

namespace pelorin::testing {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Runs the loop until `done` or a generous deadline.
template <typename Done>
void RunUntil(boost::asio::io_context& loop, Done done) {
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (!done() && Clock::now() < deadline) loop.run_for(milliseconds(5));
}

TEST(TimerTest, EnablingAnEnabledTimerKeepsItsPeriod) {
  boost::asio::io_context loop;
  const auto busy = boost::asio::make_work_guard(loop);  // the loop runs out of work between turns
  Clock::time_point ticked{};
  constexpr milliseconds kInterval(1000);
  TTimer timer(loop, kInterval, [&] {
    if (ticked == Clock::time_point{}) ticked = Clock::now();
  });
  timer.SetEnabled(true);
  loop.run_for(kInterval / 2);
  const Clock::time_point second_enable = Clock::now();
  timer.SetEnabled(true);
  RunUntil(loop, [&] { return ticked != Clock::time_point{}; });
  ASSERT_NE(Clock::time_point{}, ticked);
  // A restarted period could not end before this.
  EXPECT_LT(ticked, second_enable + kInterval);
}

TEST(TimerTest, DisabledTimerDoesNotTick) {
  boost::asio::io_context loop;
  const auto busy = boost::asio::make_work_guard(loop);  // the loop runs out of work between turns
  int ticks = 0;
  TTimer timer(loop, milliseconds(10), [&] { ++ticks; });
  timer.SetEnabled(true);
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Enabled());
  loop.run_for(milliseconds(100));
  EXPECT_EQ(0, ticks);
}

TEST(TimerTest, DisableAndEnableStartsANewPeriod) {
  boost::asio::io_context loop;
  const auto busy = boost::asio::make_work_guard(loop);  // the loop runs out of work between turns
  int ticks = 0;
  TTimer timer(loop, milliseconds(10), [&] {
    ++ticks;
    timer.SetEnabled(false);
  });
  timer.SetEnabled(true);
  RunUntil(loop, [&] { return ticks == 1; });
  EXPECT_FALSE(timer.Enabled());
  loop.run_for(milliseconds(50));
  EXPECT_EQ(1, ticks);  // a handler that disables gets one tick per enabling
  timer.SetEnabled(true);
  RunUntil(loop, [&] { return ticks == 2; });
  EXPECT_EQ(2, ticks);
}

TEST(TimerTest, EnabledTimerKeepsTicking) {
  boost::asio::io_context loop;
  const auto busy = boost::asio::make_work_guard(loop);  // the loop runs out of work between turns
  int ticks = 0;
  TTimer timer(loop, milliseconds(5), [&] { ++ticks; });
  timer.SetEnabled(true);
  RunUntil(loop, [&] { return ticks >= 3; });
  EXPECT_GE(ticks, 3);
  EXPECT_TRUE(timer.Enabled());
}

TEST(TimerTest, TicksRunOnTheLoopThreadWhoeverEnables) {
  boost::asio::io_context loop;
  const auto busy = boost::asio::make_work_guard(loop);  // the loop runs out of work between turns
  std::thread::id ticked_on;
  TTimer timer(loop, milliseconds(5), [&] {
    ticked_on = std::this_thread::get_id();
    timer.SetEnabled(false);
  });
  std::thread([&] { timer.SetEnabled(true); }).join();
  RunUntil(loop, [&] { return ticked_on != std::thread::id(); });
  EXPECT_EQ(std::this_thread::get_id(), ticked_on);
}

TEST(TimerTest, NoTickAfterTheTimerIsGone) {
  boost::asio::io_context loop;
  const auto busy = boost::asio::make_work_guard(loop);  // the loop runs out of work between turns
  int ticks = 0;
  auto timer = std::make_unique<TTimer>(loop, milliseconds(1), [&] { ++ticks; });
  timer->SetEnabled(true);  // the arming is still queued on the loop
  timer.reset();
  loop.run_for(milliseconds(50));
  EXPECT_EQ(0, ticks);
}

}  // namespace
}  // namespace pelorin::testing
