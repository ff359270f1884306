#include "service/timer.h"

#include <atomic>
#include <cstdint>
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

namespace pelorin {

// The steady timer is touched only on the loop's thread; the other threads change
// the state through the atomics and post the arming to the loop. Each turn from
// disabled to enabled is a new generation, so a wait armed for an older turn
// finds itself stale and does nothing.
struct TTimer::Impl {
  Impl(boost::asio::io_context& loop_in, std::chrono::milliseconds interval_in, THandler handler_in)
      : loop(loop_in), wait(loop_in), interval(interval_in), handler(std::move(handler_in)) {}

  bool IsCurrent(std::uint64_t turn) const { return enabled.load() && generation.load() == turn; }

  static void Arm(const std::shared_ptr<Impl>& self, std::uint64_t turn);

  boost::asio::io_context& loop;
  boost::asio::steady_timer wait;
  const std::chrono::milliseconds interval;
  const THandler handler;
  std::atomic<bool> enabled{false};
  std::atomic<std::uint64_t> generation{0};
};

void TTimer::Impl::Arm(const std::shared_ptr<Impl>& self, std::uint64_t turn) {
  if (!self->IsCurrent(turn)) return;
  self->wait.expires_after(self->interval);  // cancels a stale wait still pending
  self->wait.async_wait([weak = std::weak_ptr<Impl>(self), turn](const boost::system::error_code& ec) {
    const std::shared_ptr<Impl> impl = weak.lock();
    if (!impl || ec || !impl->IsCurrent(turn)) return;
    impl->handler();
    Arm(impl, turn);  // still enabled in the same turn: one more period
  });
}

TTimer::TTimer(boost::asio::io_context& loop, std::chrono::milliseconds interval, THandler on_timer)
    : impl_(std::make_shared<Impl>(loop, interval, std::move(on_timer))) {}

TTimer::~TTimer() {
  impl_->enabled = false;
  impl_->wait.cancel();
}

void TTimer::SetEnabled(bool enabled) {
  if (impl_->enabled.load() == enabled) return;
  if (!enabled) {
    impl_->enabled = false;
    return;
  }
  const std::uint64_t turn = impl_->generation.fetch_add(1) + 1;
  impl_->enabled = true;
  boost::asio::post(impl_->loop, [weak = std::weak_ptr<Impl>(impl_), turn] {
    if (const std::shared_ptr<Impl> impl = weak.lock()) Impl::Arm(impl, turn);
  });
}

bool TTimer::Enabled() const { return impl_->enabled.load(); }

std::chrono::milliseconds TTimer::Interval() const { return impl_->interval; }

}  // namespace pelorin
