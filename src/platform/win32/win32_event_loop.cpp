#include "platform/win32/win32_event_loop.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace kolibra {
namespace {

constexpr const char* kWindowClass = kMainWindowClass;
// Posted by the console handler only to wake the loop.
constexpr UINT kWakeMessage = WM_APP;
constexpr UINT kFirstPrivateMessage = WM_APP + 1;
constexpr UINT kLastPrivateMessage = 0xBFFF;
// More messages than this in one pass wait for the next one (which does not
// sleep: MWMO_INPUTAVAILABLE sees them), so the timers and posted calls of
// the loop keep their turn.
constexpr int kMaxMessagesPerPass = 256;
// The console gives a closing program a few seconds before it ends it.
constexpr DWORD kConsoleCloseGraceMs = 4000;
// What an interrupted console program exits with (STATUS_CONTROL_C_EXIT).
constexpr UINT kInterruptedExitCode = 0xC000013A;
// The window timer that delivers events while a Windows modal loop runs: at
// the next due timer, at most this long apart while handles are watched
// (their signals do not wake a modal loop), and at least once a second.
constexpr UINT_PTR kModalTimerId = 1;
constexpr int64_t kModalWatchMs = 50;
constexpr int64_t kModalIdleMs = 1000;

// The loop that the thread's modal-loop hook reports to.
Win32EventLoop* g_modalLoop = nullptr;

// The console handler runs on a thread of its own: it reaches the owning
// loop only through these.
std::atomic<bool> g_consolePending{false};
std::atomic<HWND> g_consoleWindow{nullptr};
std::atomic<bool> g_terminationOwned{false};
// Set when the owning loop is gone, so that a console close can wait for it.
HANDLE g_loopFinished = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  g_consolePending = true;
  const HWND window = g_consoleWindow.load();
  if (window != nullptr) PostMessageA(window, kWakeMessage, 0, 0);
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    // The process ends when this returns: give the loop time to shut down.
    if (g_loopFinished != nullptr) WaitForSingleObject(g_loopFinished, kConsoleCloseGraceMs);
  }
  return TRUE;
}

bool RegisterWindowClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kWindowClass;
  return RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// The shutdown-block reason calls exist from Windows Vista on: looked up,
// so that the program still starts on older systems.
template <typename Fn>
Fn User32Call(const char* name) {
  const HMODULE user32 = GetModuleHandleA("user32.dll");
  const FARPROC proc = user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

void SetShutdownBlockReason(HWND window, const std::string& reason) {
  using Create = BOOL(WINAPI*)(HWND, LPCWSTR);
  static const Create create = User32Call<Create>("ShutdownBlockReasonCreate");
  if (create == nullptr) return;
  std::wstring wide(reason.size() + 1, L'\0');
  const int n = MultiByteToWideChar(CP_ACP, 0, reason.data(), static_cast<int>(reason.size()), wide.data(),
                                    static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  create(window, wide.c_str());
}

void ClearShutdownBlockReason(HWND window) {
  using Destroy = BOOL(WINAPI*)(HWND);
  static const Destroy destroy = User32Call<Destroy>("ShutdownBlockReasonDestroy");
  if (destroy != nullptr) destroy(window);
}

DWORD ClampTimeout(int64_t ms) {
  if (ms < 0) return 0;
  if (ms >= static_cast<int64_t>(INFINITE)) return INFINITE - 1;
  return static_cast<DWORD>(ms);
}

CivilTime ToCivil(const SYSTEMTIME& st) {
  CivilTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return t;
}

}  // namespace

Win32EventLoop::Win32EventLoop(const std::string& caption) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  if (!RegisterWindowClass(instance, &Win32EventLoop::WindowProc)) return;
  // The window finds the loop only once it exists: messages sent during its
  // creation get the default handling.
  window_ = CreateWindowExA(0, kWindowClass, caption.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  topLevel_ = window_ != nullptr;
  if (window_ == nullptr) {
    // No display: a message-only window still carries the socket
    // notifications, but no taskkill can reach it.
    window_ = CreateWindowExA(0, kWindowClass, caption.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              instance, nullptr);
  }
  if (window_ == nullptr) return;
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  if (g_modalLoop == nullptr) {
    modalHook_ = SetWindowsHookExA(WH_CALLWNDPROC, ModalHook, nullptr, GetCurrentThreadId());
    if (modalHook_ != nullptr) g_modalLoop = this;
  }
}

Win32EventLoop::~Win32EventLoop() {
  if (ownsTermination_) {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_consoleWindow = nullptr;
    g_consolePending = false;
    g_terminationOwned = false;
    if (g_loopFinished != nullptr) SetEvent(g_loopFinished);
  }
  if (modalHook_ != nullptr) {
    UnhookWindowsHookEx(modalHook_);
    g_modalLoop = nullptr;
  }
  if (window_ != nullptr) {
    if (sessionBlocked_) ClearShutdownBlockReason(window_);
    KillTimer(window_, kModalTimerId);
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

bool Win32EventLoop::InstallTerminationHandlers() {
  if (ownsTermination_) return true;
  if (window_ == nullptr) return false;
  bool expected = false;
  if (!g_terminationOwned.compare_exchange_strong(expected, true)) return false;  // another loop owns them
  // Created once and kept: a console handler of an earlier owner may still
  // be waiting on it.
  if (g_loopFinished == nullptr) g_loopFinished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (g_loopFinished != nullptr) ResetEvent(g_loopFinished);
  g_consolePending = false;
  g_consoleWindow = window_;
  if (!SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
    g_consoleWindow = nullptr;
    g_terminationOwned = false;
    return false;
  }
  ownsTermination_ = true;
  return true;
}

int64_t Win32EventLoop::NowMs() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  const int64_t count = c.QuadPart;
  // Split so that the product cannot overflow.
  return count / frequency * 1000 + count % frequency * 1000 / frequency;
}

CivilTime Win32EventLoop::LocalTime() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return ToCivil(st);
}

CivilTime Win32EventLoop::UtcTime() {
  SYSTEMTIME st;
  GetSystemTime(&st);
  return ToCivil(st);
}

void Win32EventLoop::SleepBlocking(int64_t ms) {
  while (ms > 0) {
    const DWORD slice = ClampTimeout(ms);
    Sleep(slice);
    ms -= slice;
  }
}

void Win32EventLoop::SetTerminateHandler(std::function<void()> onTerminate) {
  onTerminate_ = std::move(onTerminate);
}

void Win32EventLoop::SetSessionEndHandlers(std::function<std::string()> busyReason,
                                           std::function<void()> endSession) {
  busyReason_ = std::move(busyReason);
  endSession_ = std::move(endSession);
  UpdateSessionBlock();
}

LRESULT Win32EventLoop::QueryEndSession() {
  const std::string reason = busyReason_ ? busyReason_() : std::string();
  if (!reason.empty()) {
    SetShutdownBlockReason(window_, reason);
    sessionBlocked_ = true;
    return FALSE;
  }
  // WM_ENDSESSION follows; until then no timer starts new work.
  holdTimersUntil_ = NowMs() + kSessionHoldMs;
  return TRUE;
}

void Win32EventLoop::UpdateSessionBlock() {
  if (!sessionBlocked_ || (busyReason_ && !busyReason_().empty())) return;
  ClearShutdownBlockReason(window_);
  sessionBlocked_ = false;
}

Win32EventLoop::WatchId Win32EventLoop::WatchHandle(HANDLE handle, std::function<void()> onSignaled) {
  // One slot of the wait belongs to the message queue.
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || watches_.size() >= MAXIMUM_WAIT_OBJECTS - 1) {
    return 0;
  }
  const WatchId id = nextWatch_++;
  watches_[id] = WatchEntry{handle, std::move(onSignaled)};
  return id;
}

void Win32EventLoop::Unwatch(WatchId id) { watches_.erase(id); }

UINT Win32EventLoop::RegisterMessage(MessageHandler handler) {
  UINT message = kFirstPrivateMessage;
  while (message <= kLastPrivateMessage && handlers_.count(message) != 0) ++message;
  if (message > kLastPrivateMessage) return 0;
  handlers_[message] = std::move(handler);
  return message;
}

void Win32EventLoop::UnregisterMessage(UINT message) {
  if (handlers_.erase(message) == 0) return;
  if (window_ != nullptr) {
    MSG msg;
    while (PeekMessageA(&msg, window_, message, message, PM_REMOVE)) {
    }
  }
  std::erase_if(queued_, [message](const QueuedMessage& q) { return q.message == message; });
}

LRESULT CALLBACK Win32EventLoop::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* loop = reinterpret_cast<Win32EventLoop*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  LRESULT result = 0;
  if (loop != nullptr && loop->OnWindowMessage(msg, wParam, lParam, &result)) return result;
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

bool Win32EventLoop::OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  *result = 0;
  switch (msg) {
    case WM_CLOSE:
      // The window lives as long as the loop; closing it asks to terminate.
      // An open menu (the tray's pop-up, the menu bar) holds the thread in
      // its own loop until dismissed: it is ended, so that the close goes on.
      if (ownsTermination_) {
        RequestTermination();
        EndMenu();
      }
      return true;
    case WM_QUERYENDSESSION:
      if (!ownsTermination_) return false;
      if (endSession_) {
        *result = QueryEndSession();
        return true;
      }
      RequestTermination();
      *result = TRUE;
      return true;
    case WM_ENDSESSION:
      if (!ownsTermination_) return false;
      holdTimersUntil_ = 0;
      if (!wParam) return true;  // the session goes on
      if (!endSession_) {
        RequestTermination();
        return true;
      }
      if (sessionEnding_) return true;
      sessionEnding_ = true;
      {
        // Windows may end the process once this returns: the shutdown runs
        // now, and the process ends with it (its locks released).
        std::function<void()> fn = endSession_;
        fn();
      }
      ExitProcess(0);
    case WM_TIMER:
      if (wParam != kModalTimerId) return false;
      // Dispatched by a modal loop of Windows (not by a Wait of ours begun
      // since it started): deliver as a Wait would.
      if (!modalPumpLevels_.empty() && pumping_ == modalPumpLevels_.back()) {
        ModalPass();
      } else if (modalPumpLevels_.empty()) {
        KillTimer(window_, kModalTimerId);
      }
      return true;
    case kWakeMessage:
      ArmModalTimer(true);
      return true;
    default:
      break;
  }
  if (msg >= kFirstPrivateMessage && msg <= kLastPrivateMessage) {
    // Delivered from Wait(), whoever pumps the message.
    if (handlers_.count(msg) != 0) {
      queued_.push_back(QueuedMessage{msg, wParam, lParam});
      ArmModalTimer(true);
    }
    return true;
  }
  return false;
}

bool Win32EventLoop::TerminationPending() const {
  if (terminating_) return false;
  return terminateRequested_ || (ownsTermination_ && g_consolePending.load());
}

void Win32EventLoop::Wait(int64_t deadlineMs) {
  EventLoopCore::WaitScope scope(core_);
  while (Pass(deadlineMs) == 0 && NowMs() < deadlineMs) {
  }
}

int Win32EventLoop::Pass(int64_t deadlineMs) {
  // No modal loop can run under the outermost Wait: a missed exit notice
  // must not leave the modal timer on.
  if (core_.Depth() == 1 && !modalPumpLevels_.empty()) {
    modalPumpLevels_.clear();
    ArmModalTimer(false);
  }
  UpdateSessionBlock();
  if (holdTimersUntil_ != 0 && NowMs() >= holdTimersUntil_) holdTimersUntil_ = 0;
  const bool ready = TerminationPending() || !queued_.empty() || core_.CallsReady();
  const int64_t nextDue = holdTimersUntil_ != 0 ? holdTimersUntil_ : core_.NextDue();
  const int64_t until = nextDue < deadlineMs ? nextDue : deadlineMs;
  const DWORD timeout = ready ? 0 : ClampTimeout(until - NowMs());

  std::vector<HANDLE> handles;
  std::vector<WatchId> ids;
  const DWORD count = ListWatches(handles, ids);
  ++waitCalls_;
  DWORD r = MsgWaitForMultipleObjectsEx(count, handles.data(), timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  if (r == WAIT_FAILED && count > 0) {
    // A watched handle is no longer valid: wait on the messages alone
    // rather than return at once, again and again.
    ++waitCalls_;
    r = MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  if (r == WAIT_FAILED) SleepBlocking(timeout);  // out of resources: sleep instead of spinning

  // A wait that ran out saw no message: the queue is not looked at again.
  int delivered = 0;
  if (r != WAIT_TIMEOUT) {
    ++pumping_;
    delivered = PumpMessages();
    --pumping_;
  }
  return delivered + DeliverReady(r, handles.data(), ids.data(), count);
}

DWORD Win32EventLoop::ListWatches(std::vector<HANDLE>& handles, std::vector<WatchId>& ids) const {
  for (const auto& [id, w] : watches_) {
    handles.push_back(w.handle);
    ids.push_back(id);
  }
  return static_cast<DWORD>(handles.size());
}

int Win32EventLoop::DeliverReady(DWORD waitResult, const HANDLE* handles, const WatchId* ids, DWORD count) {
  int delivered = 0;
  if (TerminationPending()) {
    terminateRequested_ = false;
    g_consolePending = false;
    ++delivered;
    if (!onTerminate_) ExitProcess(kInterruptedExitCode);
    terminating_ = true;
    std::function<void()> fn = onTerminate_;
    fn();
    terminating_ = false;
  }

  delivered += RunWatches(waitResult, handles, ids, count);
  delivered += RunQueuedMessages();
  if (holdTimersUntil_ != 0 && NowMs() >= holdTimersUntil_) holdTimersUntil_ = 0;
  if (holdTimersUntil_ == 0) {
    delivered += core_.Deliver();
  } else {
    delivered += core_.RunDeferred();
    delivered += core_.RunPosted();
  }
  return delivered;
}

LRESULT CALLBACK Win32EventLoop::ModalHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && g_modalLoop != nullptr) {
    switch (reinterpret_cast<const CWPSTRUCT*>(lParam)->message) {
      case WM_ENTERMENULOOP:
      case WM_ENTERSIZEMOVE:
        g_modalLoop->ModalLoopEntered();
        break;
      case WM_EXITMENULOOP:
      case WM_EXITSIZEMOVE:
        g_modalLoop->ModalLoopLeft();
        break;
      default:
        break;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void Win32EventLoop::ModalLoopEntered() {
  // The modal loop pumps at the level of our pumps running now.
  modalPumpLevels_.push_back(pumping_);
  ArmModalTimer(false);
}

void Win32EventLoop::ModalLoopLeft() {
  if (!modalPumpLevels_.empty()) modalPumpLevels_.pop_back();
  ArmModalTimer(false);
}

void Win32EventLoop::ArmModalTimer(bool now) {
  if (window_ == nullptr) return;
  if (modalPumpLevels_.empty()) {
    KillTimer(window_, kModalTimerId);
    return;
  }
  if (pumping_ != modalPumpLevels_.back()) return;  // a Wait of ours runs: it delivers
  int64_t delay = kModalIdleMs;
  bool ready = now || TerminationPending() || !queued_.empty();
  if (!ready) {
    // What a pass nested one deeper could run.
    EventLoopCore::WaitScope deeper(core_);
    ready = core_.CallsReady();
  }
  if (ready) {
    delay = 0;
  } else {
    if (!watches_.empty()) delay = std::min(delay, kModalWatchMs);
    const int64_t due = holdTimersUntil_ != 0 ? holdTimersUntil_ : core_.NextDue();
    if (due != EventLoopCore::kNever) delay = std::min(delay, std::max<int64_t>(due - NowMs(), 0));
  }
  ::SetTimer(window_, kModalTimerId, std::max<UINT>(ClampTimeout(delay), USER_TIMER_MINIMUM), nullptr);
}

void Win32EventLoop::ModalPass() {
  KillTimer(window_, kModalTimerId);
  {
    EventLoopCore::WaitScope scope(core_);
    UpdateSessionBlock();
    std::vector<HANDLE> handles;
    std::vector<WatchId> ids;
    const DWORD count = ListWatches(handles, ids);
    const DWORD r = count > 0 ? WaitForMultipleObjects(count, handles.data(), FALSE, 0) : WAIT_TIMEOUT;
    DeliverReady(r, handles.data(), ids.data(), count);
  }
  ArmModalTimer(false);
}

int Win32EventLoop::PumpMessages() {
  int foreign = 0;
  MSG msg;
  for (int n = 0; n < kMaxMessagesPerPass && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
    if (msg.message == WM_QUIT) continue;  // the loop ends only through the terminate handler
    // Messages for other windows (the operator's) are events of their own.
    if (msg.hwnd != nullptr && msg.hwnd != window_) ++foreign;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return foreign;
}

int Win32EventLoop::RunWatches(DWORD waitResult, const HANDLE* handles, const WatchId* ids, DWORD count) {
  // The wait reports the first signalled handle of the list (an auto-reset
  // event is reset by that): those before it were not. Only once one is
  // reported are the ones after it asked, all in one wait that does not
  // block; a wait that reported none (it ran out) is followed by no other.
  int delivered = 0;
  DWORD first = 0;
  while (waitResult - WAIT_OBJECT_0 < count - first) {
    const DWORD i = first + (waitResult - WAIT_OBJECT_0);
    // The watch may have gone or changed in an earlier handler of this pass.
    auto it = watches_.find(ids[i]);
    if (it != watches_.end() && it->second.handle == handles[i]) {
      std::function<void()> fn = it->second.onSignaled;
      ++delivered;
      if (fn) fn();
    }
    first = i + 1;
    if (first == count) break;
    waitResult = WaitForMultipleObjects(count - first, handles + first, FALSE, 0);
  }
  return delivered;
}

int Win32EventLoop::RunQueuedMessages() {
  int delivered = 0;
  // Only what was queued before this point: messages queued by the handlers
  // wait for the next pass.
  for (std::size_t n = queued_.size(); n > 0 && !queued_.empty(); --n) {
    const QueuedMessage q = queued_.front();
    queued_.pop_front();
    auto it = handlers_.find(q.message);
    if (it == handlers_.end()) continue;
    MessageHandler fn = it->second;
    ++delivered;
    if (fn) fn(q.wParam, q.lParam);
  }
  return delivered;
}

}  // namespace kolibra
