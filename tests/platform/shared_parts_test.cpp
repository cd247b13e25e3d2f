// The parts every system's platform shares: the event loop's core, the serial
// settings, the dotted address, the control request's line and the log line.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/control_channel.h"
#include "platform/event_loop_core.h"
#include "platform/log_line.h"
#include "platform/serial_settings.h"
#include "platform/tcp_socket_core.h"

namespace kolibra {
namespace {

using Log = std::vector<std::string>;

// An event loop core on a hand-moved clock. Each timer logs "<name>@<now>";
// Wait() is one delivery pass one level deeper than the caller, then logs "|".
struct Rig {
  int64_t now = 0;
  EventLoopCore core{[this] { return now; }};
  Log log;

  EventLoopCore::TimerId Add(const std::string& name, int64_t intervalMs, std::function<void()> then = {}) {
    const auto id = core.CreateTimer([this, name, then] {
      log.push_back(name + "@" + std::to_string(now));
      if (then) then();
    });
    core.SetTimer(id, intervalMs, true);
    return id;
  }
  // Runs the due timers at each instant in turn.
  void Run(std::initializer_list<int64_t> instants) {
    for (const int64_t at : instants) {
      now = at;
      core.RunDueTimers();
    }
  }
  std::function<void()> Note(const std::string& text) { return [this, text] { log.push_back(text); }; }
  void Wait() {
    {
      EventLoopCore::WaitScope scope(core);
      core.Deliver();
    }
    log.push_back("|");
  }
};

TEST(EventLoopCoreTest, TimersAndCallsTable) {
  const struct { const char* name; Log want; std::function<void(Rig&)> script; } cases[] = {
      {"earliest due first, ties in creation order; a late timer ticks once, its period restarting then",
       {"b@65", "c@65", "a@65", "b@85", "c@85"}, [](Rig& r) {
         const auto a = r.Add("a", 0), b = r.Add("b", 0), c = r.Add("c", 0);
         r.core.SetTimer(c, 20, true);
         r.core.SetTimer(a, 30, true);
         r.core.SetTimer(b, 20, true);
         r.Run({65, 84, 85});
       }},
      {"an interval of 0 or less never ticks, enabled or not", {"never", "enabled, 0"}, [](Rig& r) {
         const auto a = r.Add("a", 0);
         r.Add("b", -5);
         if (r.core.NextDue() == EventLoopCore::kNever) r.log.push_back("never");
         if (r.core.TimerEnabled(a) && r.core.TimerInterval(a) == 0) r.log.push_back("enabled, 0");
         r.Run({100000});
       }},
      {"a handler disables a timer due at the same instant, restarts one (a full period from then) and creates "
       "timers while the queue runs",
       {"a@10", "n0@20", "a@20", "c@25", "n0@25"}, [](Rig& r) {
         EventLoopCore::TimerId b = -1, c = -1;
         r.Add("a", 10, [&r, &b, &c] {
           if (r.now != 10) return;
           r.core.SetTimer(b, 10, false);
           r.core.SetTimer(c, 15, true);
           for (int i = 0; i < 20; ++i) r.Add("n" + std::to_string(i), i == 0 ? 5 : 0);
         });
         b = r.Add("b", 10);
         c = r.Add("c", 10);
         r.Run({10, 20, 25});
       }},
      {"a wait inside a handler ticks other timers, never the handler's own",
       {"a@10", "b@40", "a@40", "a@50", "b@50"}, [](Rig& r) {
         r.Add("a", 10, [&r] {
           if (r.now == 10) r.Run({40});
         });
         r.Add("b", 10);
         r.Run({10, 40, 50});
       }},
      {"one pass: deferred calls, then due timers, then posted calls", {"deferred", "timer", "posted", "|"},
       [](Rig& r) {
         r.core.SetTimer(r.core.CreateTimer(r.Note("timer")), 10, true);
         r.core.Post(r.Note("posted"));
         r.core.Defer(r.Note("deferred"));
         r.now = 10;
         r.Wait();
       }},
      {"a call posted by a handler runs in a later wait, not one nested in that handler",
       {"ready", "|", "handler end", "|", "posted", "|"}, [](Rig& r) {
         r.core.Post([&r] {
           r.core.Post(r.Note("posted"));
           r.log.push_back(r.core.CallsReady() ? "ready" : "idle");
           r.Wait();
           r.log.push_back("handler end");
         });
         r.Wait();
         r.Wait();
       }},
      {"a call posted outside any wait runs only in an outermost wait", {"|", "posted", "|"}, [](Rig& r) {
         r.core.Post(r.Note("posted"));
         {
           EventLoopCore::WaitScope outer(r.core);
           r.Wait();
         }
         r.Wait();
       }},
      {"deferred calls run at any depth, in order", {"deferred 1", "deferred 2", "|", "handler end", "|"},
       [](Rig& r) {
         r.core.Post([&r] {
           r.core.Defer(r.Note("deferred 1"));
           r.core.Defer(r.Note("deferred 2"));
           r.Wait();
           r.log.push_back("handler end");
         });
         r.Wait();
       }},
  };
  for (const auto& c : cases) {
    Rig rig;
    c.script(rig);
    EXPECT_EQ(rig.log, c.want) << c.name;
    EXPECT_EQ(rig.core.Depth(), 0) << c.name;
  }
}

TEST(SerialSettingsTest, FourFieldsReadAndStandardRatesTaken) {
  using Line = std::tuple<int, char, int, int>;
  const std::pair<const char*, Line> read[] = {
      {"9600,N,8,1", {9600, 'N', 8, 1}}, {"115200,e,7,2", {115200, 'E', 7, 2}}, {"0001200,o,8,1", {1200, 'O', 8, 1}},
      {"1234,N,8,1", {1234, 'N', 8, 1}}, {"9999999,N,8,1", {9999999, 'N', 8, 1}},  // any rate: the port decides
  };
  for (const auto& [text, line] : read) {
    const SerialSettings s = ParseSerialSettings(text).value_or(SerialSettings{0, 0, 0, 0});
    EXPECT_EQ(Line(s.baud, s.parity, s.dataBits, s.stopBits), line) << text;
  }
  for (const char* text : {"", "9600,N,8", "9600,N,8,1,", "9600,N,8,1,1", "12345678,N,8,1", ",N,8,1", "-9600,N,8,1",
                           "+9600,N,8,1", " 9600,N,8,1", "96O0,N,8,1", "9600,,8,1", "9600,NN,8,1", "9600,M,8,1",
                           "9600,\xce,8,1", "9600,N,08,1", "9600,N,6,1", "9600,N,8,3", "9600,N,8,1 "}) {
    EXPECT_FALSE(ParseSerialSettings(text).has_value()) << text;
  }
  const std::tuple<int, const char*, bool> configs[] = {
      {1, "300,N,8,1", true},   {255, "230400,o,7,2", true}, {0, "9600,N,8,1", false}, {256, "9600,N,8,1", false},
      {1, "1234,N,8,1", false}, {1, "460800,N,8,1", false},  {1, "9600,X,8,1", false},
  };
  for (const auto& [n, text, ok] : configs) EXPECT_EQ(CheckSerialConfig(n, text).has_value(), ok) << n << " " << text;
}

TEST(SocketAddressTest, DottedDecimalOnly) {
  const std::pair<const char*, uint32_t> cases[] = {  // 1: refused
      {"127.0.0.1", 0x7F000001}, {"192.168.001.010", 0xC0A8010A},  // leading zeros as operators type them
      {"255.255.255.255", 0xFFFFFFFF}, {"0.0.0.0", 0}, {"", 1}, {"1.2.3", 1}, {"1.2.3.4.5", 1}, {"256.1.1.1", 1},
      {"0001.1.1.1", 1}, {"1..2.3", 1}, {"1.2.3.4 ", 1}, {" 1.2.3.4", 1}, {"-1.2.3.4", 1}, {"ecr.local", 1},
  };
  for (const auto& [text, want] : cases) {
    uint32_t value = 1;
    EXPECT_EQ(SocketAddress(text, &value), want != 1) << text;
    EXPECT_EQ(value, want) << text;
  }
}

TEST(RequestLineBuffer, TakesOneLineWithinItsLimit) {
  using State = RequestLineBuffer::State;
  const std::tuple<std::vector<std::string>, State, std::string> cases[] = {
      {{"st", "at\r\n", "more\n"}, State::kComplete, "stat"}, {{"12345\n"}, State::kComplete, "12345"},
      {{"12345\r", "\n"}, State::kComplete, "12345"}, {{"1234"}, State::kPartial, "1234"},
      {{std::string("a\0b\n", 4)}, State::kComplete, std::string("a\0b", 3)}, {{"123456"}, State::kTooLong, ""},
      {{"12345\r", "x\n"}, State::kTooLong, ""}, {{"1234", "56\n"}, State::kTooLong, ""},
  };
  for (const auto& [chunks, state, line] : cases) {
    RequestLineBuffer buffer(5);
    for (const auto& chunk : chunks) buffer.Add(chunk);
    EXPECT_EQ(std::make_pair(buffer.state(), buffer.line()), std::make_pair(state, line)) << chunks[0];
  }
}

TEST(LogLineTest, StampedAndOneLineWhateverTheBreaks) {
  EXPECT_EQ(FormatLogLine(7, 5, 9, ""), "kolibra: 07:05:09 \n");
  EXPECT_EQ(FormatLogLine(23, 59, 0, std::string(kMessageBoxLogPrefix) + "a\r\nb\rc\nd\n\ne"),
            "kolibra: 23:59:00 MESSAGGIO: a b c d  e\n");
}

}  // namespace
}  // namespace kolibra
