// The Win32 event loop: private messages, watched handles, modal loops, the session's end.
#include "platform/platform_cases.h"  // first: it brings Winsock 2, which goes before windows.h
#include "platform/win32/win32_event_loop.h"

#include <string>
#include <thread>
#include <vector>

namespace kolibra {
namespace {

using Log = std::vector<std::string>;

// Private messages run inside Wait, others are dispatched. A watched handle wakes the wait once per signal until
// unwatched; the loop still delivers inside a menu's or a move's own message loop. A session's end is refused while
// busy; after a yes no timer runs until WM_ENDSESSION says it goes on.
TEST(Win32EventLoopTest, MessagesHandlesModalLoopsAndTheSessionsEndDriveTheWait) {
  Win32EventLoop loop;
  Log log;
  const UINT msg = loop.RegisterMessage([&](WPARAM w, LPARAM l) {
    log.push_back("message " + std::to_string(w) + " " + std::to_string(l));
    // Handlers may wait: a timer ticks inside the nested Wait.
    bool ticked = false;
    auto timer = loop.CreateTimer([&] { ticked = true; });
    loop.SetTimer(timer, 20, true);
    testing::WaitFor(loop, [&] { return ticked; });
    loop.SetTimer(timer, 0, false);
    if (ticked) log.push_back("nested tick");
  });
  ASSERT_GE(msg, static_cast<UINT>(WM_APP + 1));

  // A message box or dialog pumping the queue does not run the handler.
  PostMessageA(loop.Window(), msg, 7, 8);
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  EXPECT_TRUE(log.empty());
  loop.Wait(loop.NowMs() + 1000);
  EXPECT_EQ(log, (Log{"message 7 8", "nested tick"}));

  // Unregistered: what is still queued is dropped, the number comes back.
  log.clear();
  PostMessageA(loop.Window(), msg, 1, 1);
  loop.UnregisterMessage(msg);
  EXPECT_EQ(loop.RegisterMessage([&](WPARAM, LPARAM) { log.push_back("new owner"); }), msg);
  loop.Wait(loop.NowMs() + 50);
  EXPECT_TRUE(log.empty());

  // Messages for another window (the operator's dialog) are dispatched, and end the wait.
  const HWND other = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  PostMessageA(other, WM_CLOSE, 0, 0);
  const int64_t t0 = loop.NowMs();
  loop.Wait(t0 + 1000);
  EXPECT_FALSE(IsWindow(other));  // destroyed by its own window procedure
  EXPECT_LT(loop.NowMs() - t0, 500);
  EXPECT_TRUE(log.empty());

  PostMessageA(loop.Window(), WM_CLOSE, 0, 0);  // no termination handlers yet: the window stays
  loop.Wait(loop.NowMs() + 50);
  EXPECT_TRUE(IsWindow(loop.Window()));
  int ticks = 0, signalled = 0;
  auto timer = loop.CreateTimer([&] { ++ticks; });
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const auto id = loop.WatchHandle(event, [&] {
    ++signalled;
    ResetEvent(event);
  });
  ASSERT_NE(id, 0);
  const auto setSoon = [event] {
    std::thread([event] {
      Sleep(100);
      SetEvent(event);
    }).detach();
  };
  setSoon();
  const int64_t t1 = loop.NowMs();
  EXPECT_TRUE(testing::WaitFor(loop, [&] { return signalled > 0; }));
  EXPECT_GE(loop.NowMs() - t1, 90);
  EXPECT_LT(loop.NowMs() - t1, 400);
  loop.Wait(loop.NowMs() + 50);
  EXPECT_EQ(signalled, 1);  // reset by its handler: no second wake
  // A handle signalled all along leaves the others their turn.
  HANDLE always = CreateEventA(nullptr, TRUE, TRUE, nullptr), later = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  int alwaysRuns = 0, laterRuns = 0;
  const auto alwaysId = loop.WatchHandle(always, [&] { ++alwaysRuns; });
  const auto laterId = loop.WatchHandle(later, [&] {
    ++laterRuns;
    ResetEvent(later);
  });
  EXPECT_TRUE(testing::WaitFor(loop, [&] { return laterRuns == 1; }));
  EXPECT_LE(alwaysRuns, 2);
  for (const auto watch : {alwaysId, laterId}) loop.Unwatch(watch);
  for (HANDLE h : {always, later}) CloseHandle(h);
  loop.SetTimer(timer, 20, true);
  const auto foreignLoop = [&](int64_t ms) {  // what a menu's or a move's own loop does
    const int64_t until = loop.NowMs() + ms;
    for (int64_t now = loop.NowMs(); now < until; now = loop.NowMs()) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - now), QS_ALLINPUT);
      MSG m;
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    }
  };
  for (const auto& [enter, exit] : {std::pair{WM_ENTERMENULOOP, WM_EXITMENULOOP},
                                    std::pair{WM_ENTERSIZEMOVE, WM_EXITSIZEMOVE}}) {
    ticks = signalled = 0;
    SendMessageA(loop.Window(), enter, 0, 0);
    EXPECT_EQ(loop.ModalLoops(), 1);
    setSoon();
    foreignLoop(400);
    EXPECT_GE(ticks, 8) << enter;
    EXPECT_EQ(signalled, 1) << enter;
    SendMessageA(loop.Window(), exit, 0, 0);
    EXPECT_EQ(loop.ModalLoops(), 0);
    ticks = 0;
    foreignLoop(200);
    EXPECT_EQ(ticks, 0) << enter;
  }

  ASSERT_TRUE(loop.InstallTerminationHandlers());
  std::string busy = "Scontrino in corso";
  int ended = 0;
  loop.SetSessionEndHandlers([&] { return busy; }, [&] { ++ended; });
  EXPECT_EQ(SendMessageA(loop.Window(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
  EXPECT_TRUE(testing::WaitFor(loop, [&] { return ticks > 2; }));
  busy.clear();
  EXPECT_EQ(SendMessageA(loop.Window(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
  ticks = 0;
  loop.Wait(loop.NowMs() + 200);
  EXPECT_EQ(ticks, 0);
  SendMessageA(loop.Window(), WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);
  EXPECT_TRUE(testing::WaitFor(loop, [&] { return ticks > 2; }));
  EXPECT_EQ(ended, 0);
  loop.SetSessionEndHandlers({}, {});

  loop.SetTimer(timer, 0, false);
  loop.Unwatch(id);
  SetEvent(event);
  const int64_t t2 = loop.NowMs();
  loop.Wait(t2 + 100);
  EXPECT_EQ(signalled, 1);
  EXPECT_GE(loop.NowMs() - t2, 100);
  CloseHandle(event);
}

}  // namespace
}  // namespace kolibra
