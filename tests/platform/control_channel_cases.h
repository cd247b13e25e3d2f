// Control-channel cases every real implementation passes: a served channel
// against misbehaving clients, each reading on its own thread.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/control_channel.h"
#include "platform/event_loop.h"

namespace kolibra::testing {

// Connects a client that sends bytes (none: silent); its future holds what the
// server sent until it closed, "(open)" when still open after three seconds.
using StartClient = std::function<std::future<std::string>(const std::string& bytes)>;

struct ControlRig {
  EventLoop& loop;
  ControlChannel& channel;
  std::string path;
  StartClient start;
  std::vector<std::string> seen;
  int inside = 0, mostInside = 0;
  ControlChannelOptions options{64, 300, 4, "LONG\n", "BUSY\n"};

  ControlRig(EventLoop& l, ControlChannel& c, std::string p, StartClient s)
      : loop(l), channel(c), path(std::move(p)), start(std::move(s)) {}

  ControlOpenStatus Open() {
    return channel.Open(path, [this](std::string_view line) -> std::string {
      seen.emplace_back(line);
      mostInside = std::max(mostInside, ++inside);
      // A handler that waits lets other requests arrive meanwhile.
      for (const int64_t end = loop.NowMs() + (line == "slow" ? 400 : 0); loop.NowMs() < end;) loop.Wait(end);
      --inside;
      if (line == "silence") return "";
      if (line == "big") return std::string(20000, 'b') + "\n";
      return "ok " + std::string(line) + "\n";
    }, options).status;
  }
  // Runs the loop until every call has ended; their results in order.
  template <typename T>
  std::vector<T> Pump(std::vector<std::future<T>>& calls) {
    const auto ready = [&] {
      return std::all_of(calls.begin(), calls.end(), [](std::future<T>& c) {
        return c.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
      });
    };
    for (const int64_t end = loop.NowMs() + 10000; !ready() && loop.NowMs() < end;) loop.Wait(loop.NowMs() + 10);
    std::vector<T> results;
    for (auto& c : calls) results.push_back(c.get());
    return results;
  }
  std::string Raw(const std::string& bytes) {
    std::vector<std::future<std::string>> calls;
    calls.push_back(start(bytes));
    return Pump(calls)[0];
  }
  ControlCallResult Call(const std::string& line, int64_t timeoutMs = 3000) {
    std::vector<std::future<ControlCallResult>> calls;
    calls.push_back(std::async(std::launch::async, [=, this] { return SendControlRequest(path, line, timeoutMs); }));
    return Pump(calls)[0];
  }
};

// Too long a request is answered by the channel, a NUL byte is data, an empty answer closes, a big one comes whole; a
// silent client is dropped after the time-out while others are served; clients beyond maxConnections are answered
// busy (exactly the surplus when exactBusy); the handler is never re-entered; a late answer times out. connections:
// the channel's open connections.
inline void ExpectHostileClientsHandled(ControlRig& s, bool exactBusy,
                                        const std::function<std::size_t()>& connections) {
  ASSERT_EQ(s.Open(), ControlOpenStatus::kOpen);
  EXPECT_EQ(s.Raw(std::string(200, 'a') + "\n"), "LONG\n");
  EXPECT_EQ(s.Raw(std::string(100000, 'a')), "LONG\n");
  EXPECT_EQ(s.Raw(std::string("a\0b\r\n", 5)), std::string("ok a\0b\n", 7));
  EXPECT_EQ(s.Raw("silence\n"), "");
  const ControlCallResult big = s.Call("big");
  EXPECT_EQ(big.status, ControlCallStatus::kOk);
  EXPECT_EQ(big.reply.size(), 20001u);
  EXPECT_EQ(s.seen, (std::vector<std::string>{std::string("a\0b", 3), "silence", "big"}));

  const int64_t t0 = s.loop.NowMs();
  std::vector<std::future<std::string>> calls;
  calls.push_back(s.start(""));
  EXPECT_EQ(s.Raw("quick\n"), "ok quick\n");
  EXPECT_LT(s.loop.NowMs() - t0, 250);
  EXPECT_EQ(s.Pump(calls)[0], "");
  EXPECT_GE(s.loop.NowMs() - t0, 250);

  calls.clear();
  calls.push_back(s.start("slow\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // in first
  for (int i = 0; i < 9; ++i) calls.push_back(s.start("r" + std::to_string(i) + "\n"));
  const std::vector<std::string> replies = s.Pump(calls);
  const auto ok = std::count_if(replies.begin(), replies.end(), [](const auto& r) { return r.rfind("ok ", 0) == 0; });
  const auto busy = std::count(replies.begin(), replies.end(), "BUSY\n");
  EXPECT_EQ(ok + busy, 10);
  EXPECT_GE(ok, 4);
  EXPECT_GE(busy, exactBusy ? 6 : 1);  // with the two above: exactly the surplus
  EXPECT_EQ(s.mostInside, 1);
  s.loop.Wait(s.loop.NowMs() + 50);
  EXPECT_EQ(connections(), 0u);

  EXPECT_EQ(s.Call("hello").reply, "ok hello\n");
  EXPECT_EQ(s.Call("slow", 200).status, ControlCallStatus::kTimedOut);
  s.channel.Close();
  EXPECT_EQ(s.Call("hello").status, ControlCallStatus::kNoServer);
}

// Every connection of this process is one client's: beyond maxPerClient it is answered busy at once though the
// channel has room, and served again once its idle connections have timed out.
inline void ExpectOneClientHoldsOnlyItsShare(ControlRig& s) {
  s.options.maxPerClient = 2;
  ASSERT_EQ(s.Open(), ControlOpenStatus::kOpen);
  std::vector<std::future<std::string>> idle;
  idle.push_back(s.start(""));
  idle.push_back(s.start(""));
  const int64_t t0 = s.loop.NowMs();
  EXPECT_EQ(s.Raw("third\n"), "BUSY\n");
  EXPECT_LT(s.loop.NowMs() - t0, 250);
  EXPECT_EQ(s.Pump(idle), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(s.Raw("again\n"), "ok again\n");
  s.channel.Close();
}

}  // namespace kolibra::testing
