// The POSIX event loop: one poll() over the watched descriptors and a
// self-pipe, with the timeout taken from the earliest of the caller's
// deadline and the next due timer.
#pragma once

#include <poll.h>

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "platform/event_loop.h"
#include "platform/event_loop_core.h"

namespace kolibra {

class PosixEventLoop : public EventLoop {
 public:
  PosixEventLoop();
  ~PosixEventLoop() override;
  PosixEventLoop(const PosixEventLoop&) = delete;
  PosixEventLoop& operator=(const PosixEventLoop&) = delete;

  int64_t NowMs() override;
  CivilTime LocalTime() override;
  CivilTime UtcTime() override;
  void Wait(int64_t deadlineMs) override;
  void SleepBlocking(int64_t ms) override;
  TimerId CreateTimer(std::function<void()> onTick) override { return core_.CreateTimer(std::move(onTick)); }
  void SetTimer(TimerId id, int64_t intervalMs, bool enabled) override { core_.SetTimer(id, intervalMs, enabled); }
  bool TimerEnabled(TimerId id) override { return core_.TimerEnabled(id); }
  int64_t TimerInterval(TimerId id) override { return core_.TimerInterval(id); }
  void Post(std::function<void()> fn) override { core_.Post(std::move(fn)); }
  void SetTerminateHandler(std::function<void()> onTerminate) override;

  // Routes SIGTERM, SIGINT and SIGHUP to the terminate handler (run inside
  // Wait) and ignores SIGPIPE. Only one loop of the process may own the
  // signals; the previous dispositions come back when it is destroyed. A
  // termination request that arrives while no terminate handler is set ends
  // the process the usual way.
  bool InstallTerminationSignals();

  // --- for the serial port and the socket (not part of EventLoop) ---
  using WatchId = int;
  // Watches fd for the poll() events given; onReady(revents) runs inside
  // Wait(). A watch with events 0 is left out of poll() entirely, so a hung-up
  // descriptor cannot wake the loop again and again.
  WatchId Watch(int fd, short events, std::function<void(short revents)> onReady);
  void SetWatchEvents(WatchId id, short events);
  void Unwatch(WatchId id);
  // Runs fn inside the next Wait() at any nesting depth, as an event source
  // that is ready now (used for outcomes known at once, such as a connect
  // refused before it started).
  void Defer(std::function<void()> fn) { core_.Defer(std::move(fn)); }

  // Number of poll() calls made so far (lets tests see that a wait slept).
  int64_t PollCalls() const { return pollCalls_; }

 private:
  struct WatchEntry {
    int fd;
    short events;
    std::function<void(short)> onReady;
  };
  // One pass: poll until timeoutMs, then deliver. Returns the number of
  // events delivered.
  int Pass(int64_t deadlineMs);
  bool HandleWakePipe();
  CivilTime Civil(bool local);

  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  bool signalsInstalled_ = false;
  int64_t pollCalls_ = 0;
  bool terminating_ = false;  // terminate handler running
  std::function<void()> onTerminate_;
  EventLoopCore core_{[this] { return NowMs(); }};
  std::map<WatchId, WatchEntry> watches_;
  WatchId nextWatch_ = 1;
};

}  // namespace kolibra
