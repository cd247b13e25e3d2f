// Event-loop cases every real loop passes, whatever system it runs on, and
// the wait helper the platform tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/event_loop.h"

namespace kolibra::testing {

// Waits in the loop until cond holds or the budget runs out.
template <typename Cond>
bool WaitFor(EventLoop& loop, Cond cond, int64_t budgetMs = 2000) {
  const int64_t end = loop.NowMs() + budgetMs;
  while (!cond() && loop.NowMs() < end) loop.Wait(end);
  return cond();
}

// An idle wait sleeps in the OS until its deadline: not shorter, not much
// longer, without burning CPU and with one or two OS waits, not a spin.
inline void ExpectIdleWaitSleeps(EventLoop& loop, const std::function<int64_t()>& cpuMs,
                                 const std::function<int64_t()>& osWaits) {
  const int64_t cpu0 = cpuMs();
  const int64_t waits0 = osWaits();
  const int64_t t0 = loop.NowMs();
  loop.Wait(t0 + 200);
  EXPECT_GE(loop.NowMs() - t0, 200);
  EXPECT_LT(loop.NowMs() - t0, 400);
  EXPECT_LT(cpuMs() - cpu0, 20);
  EXPECT_LE(osWaits() - waits0, 3);
}

// Timers tick inside Wait in due order (a disabled one never); a call posted
// by a handler waits until that handler has returned.
inline void ExpectTimersAndPostsInOrder(EventLoop& loop) {
  using Log = std::vector<std::string>;
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

  order.clear();
  loop.Post([&] {
    loop.Post([&] { order.push_back("posted"); });
    order.push_back("handler");
  });
  EXPECT_TRUE(order.empty());
  loop.Wait(loop.NowMs() + 1000);
  EXPECT_EQ(order, Log{"handler"});
  const int64_t t0 = loop.NowMs();
  loop.Wait(t0 + 1000);
  EXPECT_EQ(order, (Log{"handler", "posted"}));
  EXPECT_LT(loop.NowMs() - t0, 100);
}

}  // namespace kolibra::testing
