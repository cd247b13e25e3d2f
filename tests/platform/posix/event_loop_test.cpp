#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "platform/posix/platform_test_util.h"

namespace kolibra {
namespace {

TEST(PosixEventLoopTest, IdleWaitSleepsAndTimersPostsAndSigtermRunOnlyInsideIt) {
  PosixEventLoop loop;
  testing::ExpectIdleWaitSleeps(loop, testing::CpuMs, [&] { return loop.PollCalls(); });
  testing::ExpectTimersAndPostsInOrder(loop);

  ASSERT_TRUE(loop.InstallTerminationSignals());
  int terminated = 0;
  loop.SetTerminateHandler([&] { ++terminated; });
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  EXPECT_EQ(terminated, 0);
  const int64_t t0 = loop.NowMs();
  loop.Wait(t0 + 2000);
  EXPECT_EQ(terminated, 1);
  EXPECT_LT(loop.NowMs() - t0, 500);
}

}  // namespace
}  // namespace kolibra
