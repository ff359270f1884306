// TTimer: a periodic timer whose ticks run on the thread that runs its event loop
// (the main thread's io_context). Owned by the service module; its enabled state is
// changed by the owner under the owner's lock, from any thread.
#ifndef PELORIN_SERVICE_TIMER_H_
#define PELORIN_SERVICE_TIMER_H_

#include <chrono>
#include <functional>
#include <memory>

namespace boost::asio {
class io_context;
}  // namespace boost::asio

namespace pelorin {

class TTimer {
 public:
  using THandler = std::function<void()>;

  // Starts disabled. The handler must not throw.
  TTimer(boost::asio::io_context& loop, std::chrono::milliseconds interval, THandler on_timer);
  // On the loop's thread, or while the loop does not run; no tick follows it.
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  // Enabling a disabled timer starts a period; the handler runs when it ends and
  // again after every further period while the timer stays enabled. Enabling an
  // enabled timer changes nothing: its period is not restarted, so a burst of
  // changes is saved once. Disabling drops the tick that is due.
  void SetEnabled(bool enabled);
  bool Enabled() const;
  std::chrono::milliseconds Interval() const;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;  // shared with the waits in flight, which hold it weakly
};

}  // namespace pelorin

#endif  // PELORIN_SERVICE_TIMER_H_
