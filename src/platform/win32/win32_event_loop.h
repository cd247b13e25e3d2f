// The Windows event loop: one MsgWaitForMultipleObjectsEx over the watched
// handles and the thread's message queue, with the timeout taken from the
// earliest of the caller's deadline and the next due timer.
//
// The loop owns the program's hidden main window (class "KolibraMain"). Its
// window procedure only records what arrives (socket notifications,
// termination requests); the handlers run inside Wait(), also when a message
// box or dialog of someone else pumps the messages.
//
// Windows' own modal loops (a menu being tracked, a window being moved or
// sized) pump the messages instead of Wait(): while one runs, a window timer
// of the loop delivers the timers, watched handles, private messages and
// calls as a nested Wait() would, without taking the modal loop's messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/event_loop.h"
#include "platform/event_loop_core.h"

namespace kolibra {

// The class of the main window: how an installer finds a running copy.
inline constexpr char kMainWindowClass[] = "KolibraMain";

class Win32EventLoop : public EventLoop {
 public:
  // Creates the hidden top-level window with the given caption; without a
  // display (Wine without X) a message-only window takes its place.
  explicit Win32EventLoop(const std::string& caption = "Kolibra");
  ~Win32EventLoop() override;
  Win32EventLoop(const Win32EventLoop&) = delete;
  Win32EventLoop& operator=(const Win32EventLoop&) = delete;

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
  // WM_QUERYENDSESSION is answered no while busyReason() is not empty, with
  // that text as the shutdown-block reason, which goes as soon as it is
  // empty again; after a yes the loop's timers hold (no new work starts)
  // until WM_ENDSESSION, for at most kSessionHoldMs. WM_ENDSESSION with
  // TRUE runs endSession and then ends the process, before it returns.
  // Needs InstallTerminationHandlers(); without endSession the two messages
  // only request termination.
  void SetSessionEndHandlers(std::function<std::string()> busyReason,
                             std::function<void()> endSession) override;
  static constexpr int64_t kSessionHoldMs = 30'000;
  // Runs fn inside a later outermost Wait(), once every handler now running
  // has returned (a job's wait included).
  void PostOutermost(std::function<void()> fn) { core_.PostOutermost(std::move(fn)); }
  // True while a handler runs inside Wait() (a job waiting on the ECR, say).
  bool InsideHandler() const { return core_.Depth() > 1; }
  // Number of Windows modal loops now running on this thread.
  int ModalLoops() const { return static_cast<int>(modalPumpLevels_.size()); }

  // The main window (null only when no window at all could be created).
  HWND Window() const { return window_; }
  // True when Window() is a top-level window (false: message-only).
  bool TopLevelWindow() const { return topLevel_; }

  // Routes Ctrl-C, Ctrl-Break and the console's close, logoff and shutdown
  // events, WM_CLOSE to Window() and WM_QUERYENDSESSION / WM_ENDSESSION to
  // the terminate handler (run inside Wait). Only one loop of the process
  // may own them; false when another does or the console refuses. A request
  // that arrives while no terminate handler is set ends the process with
  // the exit code of an interrupted console program. Without them WM_CLOSE
  // is ignored (the window is never destroyed before the loop).
  bool InstallTerminationHandlers();

  // --- for the serial port and the socket (not part of EventLoop) ---
  using WatchId = int;
  // Watches a waitable handle (the manual-reset event of an overlapped
  // operation): while watched, Wait() waits on it too and runs onSignaled
  // inside Wait() when it is signalled. onSignaled must reset or re-arm the
  // event (or Unwatch), else the loop wakes again at once. 0 when refused
  // (a null handle, or more handles than one wait can take).
  WatchId WatchHandle(HANDLE handle, std::function<void()> onSignaled);
  void Unwatch(WatchId id);

  // A message number private to this loop (WM_APP + k). Messages posted to
  // Window() with it are delivered as handler(wParam, lParam) inside Wait(),
  // in arrival order. 0 when all numbers are taken.
  using MessageHandler = std::function<void(WPARAM, LPARAM)>;
  UINT RegisterMessage(MessageHandler handler);
  // Drops the handler and every message with that number not yet delivered;
  // the number may be handed out again.
  void UnregisterMessage(UINT message);

  // Runs fn inside the next Wait() at any nesting depth, as an event source
  // that is ready now (used for outcomes known at once).
  void Defer(std::function<void()> fn) { core_.Defer(std::move(fn)); }

  // Number of MsgWaitForMultipleObjectsEx calls so far (lets tests see that
  // a wait slept).
  int64_t WaitCalls() const { return waitCalls_; }

 private:
  struct WatchEntry {
    HANDLE handle;
    std::function<void()> onSignaled;
  };
  struct QueuedMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // Sees the thread's windows enter and leave Windows' modal loops.
  static LRESULT CALLBACK ModalHook(int code, WPARAM wParam, LPARAM lParam);
  void ModalLoopEntered();
  void ModalLoopLeft();
  // Sets the window timer that runs ModalPass() (none outside modal loops).
  void ArmModalTimer(bool now);
  // A nested Wait() that takes no messages and does not block.
  void ModalPass();
  // Answers WM_QUERYENDSESSION; drops the block reason once nothing is busy.
  LRESULT QueryEndSession();
  void UpdateSessionBlock();
  // Records what the window receives; true when the message was handled.
  bool OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
  void RequestTermination() { terminateRequested_ = true; }
  bool TerminationPending() const;
  // One pass: wait until deadlineMs (or the next due timer), then deliver.
  // Returns the number of events delivered.
  int Pass(int64_t deadlineMs);
  // Removes the queued messages and dispatches them (ours only recorded).
  int PumpMessages();
  int RunWatches(DWORD waitResult, const HANDLE* handles, const WatchId* ids, DWORD count);
  // The watched handles and their ids, in the same order; their count.
  DWORD ListWatches(std::vector<HANDLE>& handles, std::vector<WatchId>& ids) const;
  // After the wait: termination, watches, private messages, timers, calls.
  int DeliverReady(DWORD waitResult, const HANDLE* handles, const WatchId* ids, DWORD count);
  int RunQueuedMessages();

  HWND window_ = nullptr;
  bool topLevel_ = false;
  bool ownsTermination_ = false;
  bool terminateRequested_ = false;
  bool terminating_ = false;  // terminate handler running
  int64_t waitCalls_ = 0;
  std::function<void()> onTerminate_;
  EventLoopCore core_{[this] { return NowMs(); }};
  std::map<WatchId, WatchEntry> watches_;
  WatchId nextWatch_ = 1;
  std::map<UINT, MessageHandler> handlers_;
  std::deque<QueuedMessage> queued_;
  HHOOK modalHook_ = nullptr;
  // For each modal loop now running, the number of our PumpMessages() that
  // ran when it began.
  std::vector<int> modalPumpLevels_;
  int pumping_ = 0;  // PumpMessages() calls running: their messages are ours
  std::function<std::string()> busyReason_;
  std::function<void()> endSession_;
  bool sessionBlocked_ = false;   // a shutdown-block reason is set
  int64_t holdTimersUntil_ = 0;   // after a yes to WM_QUERYENDSESSION
  bool sessionEnding_ = false;
};

}  // namespace kolibra
