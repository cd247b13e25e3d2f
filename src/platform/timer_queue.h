// Bookkeeping of periodic timers and posted calls, independent of any clock
// source, so that an event loop only has to say what time it is.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <vector>

namespace kolibra {

class TimerQueue {
 public:
  using TimerId = int;
  static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

  TimerId Create(std::function<void()> onTick);
  // (Re)starts the period from nowMs. An interval of 0 or less never ticks,
  // like a window timer whose interval is 0.
  void Set(TimerId id, int64_t intervalMs, bool enabled, int64_t nowMs);
  bool Enabled(TimerId id) const;
  int64_t Interval(TimerId id) const;

  // The earliest instant at which an enabled timer is due (kNever when none).
  // A timer whose handler is running is not counted: it cannot tick again
  // until that handler has returned.
  int64_t NextDue() const;

  // Ticks every timer due at nowMs once, earliest due first (ties in creation
  // order). A late timer ticks once and its next period starts at nowMs.
  // Handlers may set, create or wait (re-entering RunDue); a timer never
  // re-enters its own handler. Returns the number of ticks delivered.
  int RunDue(int64_t nowMs);

  // Ticks delivered so far by the timer (for diagnostics and tests).
  int64_t Ticks(TimerId id) const;

 private:
  struct Timer {
    std::function<void()> onTick;
    int64_t interval = 0;
    bool enabled = false;
    bool running = false;
    int64_t nextDue = 0;
    int64_t ticks = 0;
  };
  bool Valid(TimerId id) const { return id >= 0 && static_cast<std::size_t>(id) < timers_.size(); }
  bool Armed(const Timer& t) const { return t.enabled && t.interval > 0 && !t.running; }

  std::vector<Timer> timers_;
};

// Calls posted to run inside a later Wait(), after the handler that posted
// them has returned. Each call remembers the Wait() nesting depth at which it
// was posted; a Wait() nested inside the posting handler (a deeper one) does
// not run it. Calls posted while the queue runs wait for the next Wait().
class PostedCalls {
 public:
  void Post(std::function<void()> fn, int waitDepth);
  // True when a Wait() at waitDepth (1 = outermost) has a call to run.
  bool Ready(int waitDepth) const;
  // Runs, in posting order, the calls a Wait() at waitDepth may run and that
  // were queued before this call. Returns the number run.
  int Run(int waitDepth);
  std::size_t Pending() const { return calls_.size(); }

 private:
  struct Call {
    uint64_t seq;
    int depth;
    std::function<void()> fn;
  };
  static bool Eligible(const Call& c, int waitDepth) {
    return waitDepth <= (c.depth < 1 ? 1 : c.depth);
  }
  std::deque<Call> calls_;
  uint64_t nextSeq_ = 0;
};

}  // namespace kolibra
