// The one event loop of the driver: timers, socket and serial readiness,
// posted calls and termination requests are delivered only inside Wait().
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kolibra {

// A broken-down calendar time, as the clock reports it.
struct CivilTime {
  int year = 0;
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class EventLoop {
 public:
  using TimerId = int;

  virtual ~EventLoop() = default;

  // Monotonic milliseconds since an arbitrary origin.
  virtual int64_t NowMs() = 0;
  virtual CivilTime LocalTime() = 0;
  virtual CivilTime UtcTime() = 0;

  // Blocks until an event source has something to deliver or until deadlineMs
  // (on the NowMs() scale), delivers what is pending (due timers, socket
  // events, serial readiness, posted calls) and returns. Never spins: with
  // nothing to deliver it sleeps in the OS until the deadline.
  virtual void Wait(int64_t deadlineMs) = 0;

  // Blocks for ms milliseconds without delivering any event.
  virtual void SleepBlocking(int64_t ms) = 0;

  // Periodic timers, delivered inside Wait(). Setting a timer (re)starts its
  // period from now, as a window timer does when its interval or enabled
  // state is written.
  virtual TimerId CreateTimer(std::function<void()> onTick) = 0;
  virtual void SetTimer(TimerId id, int64_t intervalMs, bool enabled) = 0;
  virtual bool TimerEnabled(TimerId id) = 0;
  virtual int64_t TimerInterval(TimerId id) = 0;

  // Runs fn inside a later Wait(), after the handler now running has returned.
  virtual void Post(std::function<void()> fn) = 0;

  // Called (inside Wait) when the process is asked to terminate (SIGTERM,
  // SIGINT, SIGHUP, console close). Empty by default.
  virtual void SetTerminateHandler(std::function<void()> onTerminate) = 0;

  // The end of the user's session (a Windows logoff or shutdown; nothing
  // else sends one). busyReason says why the session must wait now (empty:
  // it need not): the system is asked to wait while it is not empty.
  // endSession runs the whole orderly shutdown; the process ends when it
  // returns. Ignored where the system has no such notice.
  virtual void SetSessionEndHandlers(std::function<std::string()> busyReason,
                                     std::function<void()> endSession) {
    (void)busyReason;
    (void)endSession;
  }
};

}  // namespace kolibra
