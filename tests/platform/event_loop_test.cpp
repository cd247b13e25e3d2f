#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/posix_event_loop.h"
#include "platform/timer_queue.h"

namespace kolibra {
namespace {

int64_t CpuMs() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000 +
         (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000;
}

// Waits until cond holds or the budget runs out.
template <typename Cond>
bool WaitFor(PosixEventLoop& loop, Cond cond, int64_t budgetMs = 2000) {
  const int64_t end = loop.NowMs() + budgetMs;
  while (!cond() && loop.NowMs() < end) loop.Wait(end);
  return cond();
}

TEST(PosixEventLoopTest, IdleWaitSleepsUntilDeadlineWithoutSpinning) {
  PosixEventLoop loop;
  const int64_t cpu0 = CpuMs();
  const int64_t t0 = loop.NowMs();
  loop.Wait(t0 + 200);
  const int64_t elapsed = loop.NowMs() - t0;
  EXPECT_GE(elapsed, 200);
  EXPECT_LT(elapsed, 400);
  EXPECT_LT(CpuMs() - cpu0, 20);
  EXPECT_LE(loop.PollCalls(), 3);
}

TEST(PosixEventLoopTest, PastDeadlineDeliversPendingAndReturnsAtOnce) {
  PosixEventLoop loop;
  int ran = 0;
  loop.Post([&] { ++ran; });
  const int64_t t0 = loop.NowMs();
  loop.Wait(t0 - 5);
  EXPECT_EQ(ran, 1);
  loop.Wait(loop.NowMs());  // nothing pending: still returns at once
  EXPECT_LT(loop.NowMs() - t0, 50);
}

TEST(PosixEventLoopTest, TimersFireInDueOrderAndPeriodically) {
  PosixEventLoop loop;
  std::vector<std::string> order;
  auto slow = loop.CreateTimer([&] { order.push_back("slow"); });
  auto fast = loop.CreateTimer([&] { order.push_back("fast"); });
  auto off = loop.CreateTimer([&] { order.push_back("off"); });
  loop.SetTimer(slow, 120, true);
  loop.SetTimer(fast, 50, true);
  loop.SetTimer(off, 10, false);
  EXPECT_TRUE(loop.TimerEnabled(slow));
  EXPECT_FALSE(loop.TimerEnabled(off));
  EXPECT_EQ(loop.TimerInterval(fast), 50);
  const int64_t end = loop.NowMs() + 135;
  while (loop.NowMs() < end) loop.Wait(end);
  // fast at 50 and 100, slow at 120; the disabled one never.
  EXPECT_EQ(order, (std::vector<std::string>{"fast", "fast", "slow"}));
}

TEST(PosixEventLoopTest, SetTimerRestartsThePeriod) {
  PosixEventLoop loop;
  int64_t firedAt = -1;
  const int64_t t0 = loop.NowMs();
  auto t = loop.CreateTimer([&] { firedAt = loop.NowMs(); });
  loop.SetTimer(t, 100, true);
  loop.SleepBlocking(70);  // delivers nothing
  EXPECT_EQ(firedAt, -1);
  loop.SetTimer(t, 100, true);
  ASSERT_TRUE(WaitFor(loop, [&] { return firedAt >= 0; }));
  EXPECT_GE(firedAt - t0, 170);
}

TEST(PosixEventLoopTest, ZeroIntervalOrDisabledTimerDoesNotWakeTheLoop) {
  PosixEventLoop loop;
  int ticks = 0;
  auto zero = loop.CreateTimer([&] { ++ticks; });
  auto later = loop.CreateTimer([&] { ++ticks; });
  loop.SetTimer(zero, 0, true);
  loop.SetTimer(later, 20, true);
  loop.SetTimer(later, 20, false);
  const int64_t t0 = loop.NowMs();
  loop.Wait(t0 + 100);
  EXPECT_EQ(ticks, 0);
  EXPECT_GE(loop.NowMs() - t0, 100);
}

TEST(PosixEventLoopTest, TimerDoesNotReenterItsOwnHandler) {
  PosixEventLoop loop;
  int depth = 0, maxDepth = 0, ticks = 0, other = 0;
  auto helper = loop.CreateTimer([&] { ++other; });
  auto t = loop.CreateTimer([&] {
    ++ticks;
    maxDepth = std::max(maxDepth, ++depth);
    if (ticks == 1) {
      // A long handler that waits: other timers run, this one does not.
      const int64_t end = loop.NowMs() + 150;
      while (loop.NowMs() < end) loop.Wait(end);
    }
    --depth;
  });
  loop.SetTimer(t, 20, true);
  loop.SetTimer(helper, 30, true);
  ASSERT_TRUE(WaitFor(loop, [&] { return ticks >= 2; }));
  EXPECT_EQ(maxDepth, 1);
  EXPECT_GE(other, 3);
}

TEST(PosixEventLoopTest, PostRunsInNextWaitAfterThePostingHandlerReturns) {
  PosixEventLoop loop;
  std::vector<std::string> log;
  loop.Post([&] {
    log.push_back("handler");
    loop.Post([&] { log.push_back("posted"); });
    loop.Wait(loop.NowMs() + 30);  // nested wait: the call must not run here
    log.push_back("handler done");
  });
  EXPECT_TRUE(log.empty());  // nothing runs outside Wait
  loop.Wait(loop.NowMs() + 1000);
  EXPECT_EQ(log, (std::vector<std::string>{"handler", "handler done"}));
  const int64_t t0 = loop.NowMs();
  loop.Wait(t0 + 1000);
  EXPECT_EQ(log, (std::vector<std::string>{"handler", "handler done", "posted"}));
  EXPECT_LT(loop.NowMs() - t0, 100);
}

TEST(PosixEventLoopTest, DeferredCallRunsInNestedWait) {
  PosixEventLoop loop;
  bool deferredRan = false;
  loop.Post([&] {
    loop.Defer([&] { deferredRan = true; });
    loop.Wait(loop.NowMs() + 500);
  });
  const int64_t t0 = loop.NowMs();
  loop.Wait(t0 + 1000);
  EXPECT_TRUE(deferredRan);
  EXPECT_LT(loop.NowMs() - t0, 200);
}

TEST(PosixEventLoopTest, SigtermRunsTerminateHandlerInsideWait) {
  PosixEventLoop loop;
  ASSERT_TRUE(loop.InstallTerminationSignals());
  int terminated = 0;
  loop.SetTerminateHandler([&] { ++terminated; });
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  EXPECT_EQ(terminated, 0);  // only inside Wait
  const int64_t t0 = loop.NowMs();
  loop.Wait(t0 + 2000);
  EXPECT_EQ(terminated, 1);
  EXPECT_LT(loop.NowMs() - t0, 500);
  // A second loop cannot take the signals while the first owns them.
  PosixEventLoop other;
  EXPECT_FALSE(other.InstallTerminationSignals());
}

TEST(PosixEventLoopTest, SleepBlockingDeliversNothing) {
  PosixEventLoop loop;
  int ran = 0;
  loop.Post([&] { ++ran; });
  auto t = loop.CreateTimer([&] { ++ran; });
  loop.SetTimer(t, 10, true);
  const int64_t t0 = loop.NowMs();
  loop.SleepBlocking(60);
  EXPECT_GE(loop.NowMs() - t0, 60);
  EXPECT_EQ(ran, 0);
}

TEST(PosixEventLoopTest, CivilTimesAreConsistent) {
  PosixEventLoop loop;
  CivilTime u = loop.UtcTime();
  CivilTime l = loop.LocalTime();
  EXPECT_GE(u.year, 2020);
  EXPECT_GE(u.month, 1);
  EXPECT_LE(u.month, 12);
  EXPECT_LT(u.millisecond, 1000);
  EXPECT_LE(l.hour, 23);
}

TEST(TimerQueueTest, LateTimerTicksOnceThenRunsOnFromNow) {
  TimerQueue q;
  int ticks = 0;
  auto t = q.Create([&] { ++ticks; });
  q.Set(t, 100, true, 0);
  EXPECT_EQ(q.NextDue(), 100);
  EXPECT_EQ(q.RunDue(99), 0);
  EXPECT_EQ(q.RunDue(450), 1);  // several periods late: one tick
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(q.NextDue(), 550);
  q.Set(t, 100, false, 450);
  EXPECT_EQ(q.NextDue(), TimerQueue::kNever);
  EXPECT_EQ(q.RunDue(10000), 0);
}

TEST(TimerQueueTest, HandlerDisablingALaterDueTimerStopsItsTick) {
  TimerQueue q;
  std::vector<int> fired;
  TimerQueue::TimerId b = -1;
  auto a = q.Create([&] { fired.push_back(1); q.Set(b, 50, false, 60); });
  b = q.Create([&] { fired.push_back(2); });
  q.Set(a, 40, true, 0);
  q.Set(b, 50, true, 0);
  q.RunDue(60);
  EXPECT_EQ(fired, std::vector<int>{1});
}

}  // namespace
}  // namespace kolibra
