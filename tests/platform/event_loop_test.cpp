#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform_test_util.h"

namespace kolibra {
namespace {

using testing::CpuMs;
using testing::WaitFor;
using Log = std::vector<std::string>;

TEST(PosixEventLoopTest, IdleWaitSleepsUntilDeadlineWithoutSpinning) {
  PosixEventLoop loop;
  const int64_t cpu0 = CpuMs();
  int64_t t0 = loop.NowMs();
  loop.Wait(t0 + 200);
  EXPECT_GE(loop.NowMs() - t0, 200);
  EXPECT_LT(loop.NowMs() - t0, 400);
  EXPECT_LT(CpuMs() - cpu0, 20);
  EXPECT_LE(loop.PollCalls(), 3);
  // A deadline already passed returns at once.
  t0 = loop.NowMs();
  loop.Wait(t0 - 5);
  EXPECT_LT(loop.NowMs() - t0, 50);
}

TEST(PosixEventLoopTest, TimersTickInDueOrderAndDisabledOnesNever) {
  PosixEventLoop loop;
  Log order;
  auto slow = loop.CreateTimer([&] { order.push_back("slow"); });
  auto fast = loop.CreateTimer([&] { order.push_back("fast"); });
  auto off = loop.CreateTimer([&] { order.push_back("off"); });
  auto zero = loop.CreateTimer([&] { order.push_back("zero"); });
  loop.SetTimer(slow, 120, true);
  loop.SetTimer(fast, 50, true);
  loop.SetTimer(off, 10, true);
  loop.SetTimer(off, 10, false);
  loop.SetTimer(zero, 0, true);  // an interval of 0 never ticks
  EXPECT_FALSE(loop.TimerEnabled(off));
  EXPECT_EQ(loop.TimerInterval(fast), 50);
  const int64_t end = loop.NowMs() + 135;
  while (loop.NowMs() < end) loop.Wait(end);
  EXPECT_EQ(order, (Log{"fast", "fast", "slow"}));
}

TEST(PosixEventLoopTest, SetTimerRestartsThePeriodAndSleepDeliversNothing) {
  PosixEventLoop loop;
  int64_t firedAt = -1;
  int posted = 0;
  const int64_t t0 = loop.NowMs();
  auto t = loop.CreateTimer([&] { firedAt = loop.NowMs(); });
  loop.SetTimer(t, 100, true);
  loop.Post([&] { ++posted; });
  loop.SleepBlocking(70);
  EXPECT_EQ(posted, 0);
  loop.SetTimer(t, 100, true);
  ASSERT_TRUE(WaitFor(loop, [&] { return firedAt >= 0; }));
  EXPECT_GE(firedAt - t0, 170);
  EXPECT_EQ(posted, 1);
}

TEST(PosixEventLoopTest, TimerDoesNotReenterItsOwnHandler) {
  PosixEventLoop loop;
  int depth = 0, maxDepth = 0, ticks = 0, other = 0;
  auto helper = loop.CreateTimer([&] { ++other; });
  auto t = loop.CreateTimer([&] {
    maxDepth = std::max(maxDepth, ++depth);
    if (++ticks == 1) {  // a long handler that waits: only other timers run
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

TEST(PosixEventLoopTest, PostWaitsForThePostingHandlerButDeferDoesNot) {
  PosixEventLoop loop;
  Log log;
  loop.Post([&] {
    loop.Post([&] { log.push_back("posted"); });
    loop.Defer([&] { log.push_back("deferred"); });
    loop.Wait(loop.NowMs() + 30);  // nested: runs the deferred call only
    log.push_back("handler done");
  });
  EXPECT_TRUE(log.empty());  // nothing runs outside Wait
  loop.Wait(loop.NowMs() + 1000);
  EXPECT_EQ(log, (Log{"deferred", "handler done"}));
  const int64_t t0 = loop.NowMs();
  loop.Wait(t0 + 1000);
  EXPECT_EQ(log, (Log{"deferred", "handler done", "posted"}));
  EXPECT_LT(loop.NowMs() - t0, 100);
}

TEST(PosixEventLoopTest, SigtermRunsTerminateHandlerInsideWait) {
  PosixEventLoop loop;
  ASSERT_TRUE(loop.InstallTerminationSignals());
  int terminated = 0;
  loop.SetTerminateHandler([&] { ++terminated; });
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  EXPECT_EQ(terminated, 0);
  const int64_t t0 = loop.NowMs();
  loop.Wait(t0 + 2000);
  EXPECT_EQ(terminated, 1);
  EXPECT_LT(loop.NowMs() - t0, 500);
  PosixEventLoop other;  // the signals have one owner
  EXPECT_FALSE(other.InstallTerminationSignals());
}

}  // namespace
}  // namespace kolibra
