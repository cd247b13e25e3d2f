#include "platform/timer_queue.h"

#include <algorithm>
#include <utility>

namespace kolibra {

TimerQueue::TimerId TimerQueue::Create(std::function<void()> onTick) {
  Timer t;
  t.onTick = std::move(onTick);
  timers_.push_back(std::move(t));
  return static_cast<TimerId>(timers_.size() - 1);
}

void TimerQueue::Set(TimerId id, int64_t intervalMs, bool enabled, int64_t nowMs) {
  if (!Valid(id)) return;
  Timer& t = timers_[id];
  t.interval = intervalMs;
  t.enabled = enabled;
  t.nextDue = intervalMs > 0 ? nowMs + intervalMs : kNever;
}

bool TimerQueue::Enabled(TimerId id) const { return Valid(id) && timers_[id].enabled; }

int64_t TimerQueue::Interval(TimerId id) const { return Valid(id) ? timers_[id].interval : 0; }

int64_t TimerQueue::Ticks(TimerId id) const { return Valid(id) ? timers_[id].ticks : 0; }

int64_t TimerQueue::NextDue() const {
  int64_t next = kNever;
  for (const Timer& t : timers_) {
    if (Armed(t) && t.nextDue < next) next = t.nextDue;
  }
  return next;
}

int TimerQueue::RunDue(int64_t nowMs) {
  // Pick the due timers first: handlers may create timers (the vector may
  // grow) or change the ones not yet run.
  std::vector<std::pair<int64_t, TimerId>> due;
  for (std::size_t i = 0; i < timers_.size(); ++i) {
    const Timer& t = timers_[i];
    if (Armed(t) && t.nextDue <= nowMs) due.emplace_back(t.nextDue, static_cast<TimerId>(i));
  }
  std::sort(due.begin(), due.end());
  int fired = 0;
  for (const auto& [when, id] : due) {
    Timer& t = timers_[id];
    // An earlier handler may have disabled or restarted this one.
    if (!Armed(t) || t.nextDue > nowMs) continue;
    t.nextDue = nowMs + t.interval;
    t.running = true;
    ++t.ticks;
    ++fired;
    std::function<void()> fn = t.onTick;  // the handler may replace it
    if (fn) fn();
    timers_[id].running = false;  // re-index: the vector may have grown
  }
  return fired;
}

void PostedCalls::Post(std::function<void()> fn, int waitDepth) {
  calls_.push_back(Call{nextSeq_++, waitDepth, std::move(fn)});
}

bool PostedCalls::Ready(int waitDepth) const {
  return std::any_of(calls_.begin(), calls_.end(),
                     [&](const Call& c) { return Eligible(c, waitDepth); });
}

int PostedCalls::Run(int waitDepth) {
  const uint64_t end = nextSeq_;
  int ran = 0;
  for (;;) {
    auto it = std::find_if(calls_.begin(), calls_.end(), [&](const Call& c) {
      return c.seq < end && Eligible(c, waitDepth);
    });
    if (it == calls_.end()) break;
    std::function<void()> fn = std::move(it->fn);
    calls_.erase(it);
    ++ran;
    if (fn) fn();
  }
  return ran;
}

}  // namespace kolibra
