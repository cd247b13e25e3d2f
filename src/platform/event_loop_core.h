// The part of an event loop that does not depend on where time and I/O come
// from: timers, posted and deferred calls, the Wait() nesting depth and the
// order in which one pass delivers them. The real loop and the test loop
// wrap it with their own clock and event sources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

#include "platform/timer_queue.h"

namespace kolibra {

class EventLoopCore {
 public:
  using TimerId = TimerQueue::TimerId;
  static constexpr int64_t kNever = TimerQueue::kNever;

  // clock: the loop's NowMs(), read whenever a timer is set or checked.
  explicit EventLoopCore(std::function<int64_t()> clock) : clock_(std::move(clock)) {}
  EventLoopCore(const EventLoopCore&) = delete;
  EventLoopCore& operator=(const EventLoopCore&) = delete;

  // Marks one Wait() for as long as it lives; Waits nest when a handler waits.
  class WaitScope {
   public:
    explicit WaitScope(EventLoopCore& core) : core_(core) { ++core_.depth_; }
    ~WaitScope() { --core_.depth_; }
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;

   private:
    EventLoopCore& core_;
  };
  // Number of Wait() calls now running (0 outside any Wait).
  int Depth() const { return depth_; }

  // Timers, as EventLoop describes them; a set (re)starts the period from now.
  TimerId CreateTimer(std::function<void()> onTick) { return timers_.Create(std::move(onTick)); }
  void SetTimer(TimerId id, int64_t intervalMs, bool enabled) {
    timers_.Set(id, intervalMs, enabled, clock_());
  }
  bool TimerEnabled(TimerId id) const { return timers_.Enabled(id); }
  int64_t TimerInterval(TimerId id) const { return timers_.Interval(id); }
  // When the next timer is due (kNever when none is armed).
  int64_t NextDue() const { return timers_.NextDue(); }

  // Runs fn inside a later Wait() no deeper than the current one, after the
  // handler now running has returned.
  void Post(std::function<void()> fn) { posted_.Post(std::move(fn), depth_); }
  // Runs fn inside a later outermost Wait(), once every handler now running
  // has returned.
  void PostOutermost(std::function<void()> fn) { posted_.Post(std::move(fn), 1); }
  // Runs fn inside the next Wait() at any depth, as an event source that is
  // ready now would.
  void Defer(std::function<void()> fn);
  std::size_t PostedPending() const { return posted_.Pending(); }

  // True when the current Wait() has a call to run, so it must not sleep.
  bool CallsReady() const { return deferred_.Ready(depth_) || posted_.Ready(depth_); }

  // One delivery pass after the loop's own event sources: deferred calls,
  // then due timers, then posted calls. Returns the number delivered.
  int Deliver();
  // The stages of Deliver(), for a loop that repeats the first two.
  int RunDeferred() { return deferred_.Run(depth_); }
  int RunDueTimers() { return timers_.RunDue(clock_()); }
  int RunPosted() { return posted_.Run(depth_); }

 private:
  std::function<int64_t()> clock_;
  TimerQueue timers_;
  PostedCalls posted_;
  PostedCalls deferred_;
  int depth_ = 0;
};

}  // namespace kolibra
