#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform_test_util.h"

namespace kolibra {
namespace {

using Log = std::vector<std::string>;

TEST(PosixEventLoopTest, IdleWaitSleepsAndTimersPostsAndSigtermRunOnlyInsideIt) {
  PosixEventLoop loop;
  const int64_t cpu0 = testing::CpuMs();
  int64_t t0 = loop.NowMs();
  loop.Wait(t0 + 200);
  EXPECT_GE(loop.NowMs() - t0, 200);
  EXPECT_LT(loop.NowMs() - t0, 400);
  EXPECT_LT(testing::CpuMs() - cpu0, 20);
  EXPECT_LE(loop.PollCalls(), 3);  // idle: one blocking poll, no spinning

  Log order;
  auto slow = loop.CreateTimer([&] { order.push_back("slow"); });
  auto fast = loop.CreateTimer([&] { order.push_back("fast"); });
  auto off = loop.CreateTimer([&] { order.push_back("off"); });
  loop.SetTimer(slow, 120, true);
  loop.SetTimer(fast, 50, true);
  loop.SetTimer(off, 10, true);
  loop.SetTimer(off, 10, false);
  const int64_t end = loop.NowMs() + 135;
  while (loop.NowMs() < end) loop.Wait(end);
  EXPECT_EQ(order, (Log{"fast", "fast", "slow"}));
  loop.SetTimer(slow, 0, false);
  loop.SetTimer(fast, 0, false);

  // A call posted by a handler waits until that handler has returned.
  order.clear();
  loop.Post([&] {
    loop.Post([&] { order.push_back("posted"); });
    order.push_back("handler");
  });
  EXPECT_TRUE(order.empty());
  loop.Wait(loop.NowMs() + 1000);
  EXPECT_EQ(order, Log{"handler"});
  t0 = loop.NowMs();
  loop.Wait(t0 + 1000);
  EXPECT_EQ(order, (Log{"handler", "posted"}));
  EXPECT_LT(loop.NowMs() - t0, 100);

  ASSERT_TRUE(loop.InstallTerminationSignals());
  int terminated = 0;
  loop.SetTerminateHandler([&] { ++terminated; });
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  EXPECT_EQ(terminated, 0);
  t0 = loop.NowMs();
  loop.Wait(t0 + 2000);
  EXPECT_EQ(terminated, 1);
  EXPECT_LT(loop.NowMs() - t0, 500);
}

}  // namespace
}  // namespace kolibra
