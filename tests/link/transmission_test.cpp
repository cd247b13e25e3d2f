// Commands to the ECR: echo checks, time-outs, retries and pauses, all on
// the virtual clock.
#include <gtest/gtest.h>

#include "link/link_fixture.h"
#include "link/tcp_link.h"

namespace kolibra {
namespace {

const std::string kCmd = "1000H1R";

class SendStringTest : public LinkTest {
 protected:
  void NetworkEcho(std::vector<std::pair<int64_t, std::string>> more = {}) {
    UseNetwork();
    p.socket.responder = [this, more](const std::string& s) {
      p.socket.Deliver(10, s);
      for (const auto& [at, bytes] : more) p.socket.Deliver(at, bytes);
    };
  }
};

TEST_F(SendStringTest, SerialConfirmationRules) {
  struct Case {
    std::vector<std::string> answers;  // one per write, arriving 50 ms later
    bool result;
    std::size_t writes;
    int64_t end;
  } const cases[] = {
      {{}, false, 10, 41000},                   // silent: ten time-outs with their pauses
      {{kCmd}, true, 1, 300},                   // exact echo
      {{"X" + kCmd}, true, 1, 300},             // longer, contains the command
      {{"1000H1X", kCmd}, true, 2, 600},        // same length, differs: written again, no retry used
      {{"1000H1"}, false, 10, 41000},           // always short: only time-outs
      {{"9999H9R"}, false, 100, 100 * 300},     // endless mismatches: ten per retry, bounded
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers.empty() ? "silent" : c.answers[0]);
    fakes::FakePlatform fp;
    AppContext cx(fp.platform);
    InitLink(cx);
    cx.ui.optionRs232 = true;
    ASSERT_TRUE(fp.serial.Configure(1, "9600,N,8,1"));
    ASSERT_TRUE(fp.serial.Open());
    std::size_t n = 0;
    if (!c.answers.empty()) {
      fp.serial.responder = [&](const std::string&) {
        fp.serial.QueueInput(50, c.answers[std::min(n++, c.answers.size() - 1)]);
      };
    }
    EXPECT_EQ(SendString(cx, kCmd), c.result);
    EXPECT_EQ(fp.serial.writes.size(), c.writes);
    EXPECT_EQ(fp.loop.NowMs(), c.end);
    if (c.answers.empty()) {
      // Per attempt: write, pause (7 + 300 ms -> 3 slices), 3500 ms wait, 300 ms pause.
      for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(fp.serial.writeTimes[i], int64_t(i) * 4100);
      EXPECT_FALSE(fp.loop.TimerEnabled(cx.link.timer1));
      EXPECT_LT(fp.loop.waitCalls(), 100);  // every wait blocks, none spins
    }
  }
}

TEST_F(SendStringTest, ClosedPortIsAnUnexpectedFailure) {
  ctx.ui.optionRs232 = true;
  EXPECT_FALSE(SendString(ctx, " K"));
  EXPECT_EQ(p.notifier.messages,
            std::vector<std::string>({"Error 8018 (Operation valid only when the port is open) in procedure "
                                      "SendString of Modulo Module1"}));
  EXPECT_EQ(Now(), 3000);
}

TEST_F(SendStringTest, NetworkAnswersAreTracedWithMarkers) {
  TraceOnToFile();
  UseNetwork();
  p.socket.ForceState(kSocketClosed);
  EXPECT_FALSE(SendString(ctx, " K"));  // not connected: fails at once after the send line
  EXPECT_EQ(Now(), 0);
  EXPECT_TRUE(p.socket.sends.empty());

  NetworkEcho({{30, "K"}});
  EXPECT_TRUE(SendString(ctx, " K"));
  EXPECT_EQ(Now(), 30);

  NetworkEcho();  // echo without second answer: true after ten time-outs
  EXPECT_TRUE(SendString(ctx, kCmd));
  EXPECT_EQ(Now(), 30 + 10 + 10 * 3300);
  auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 1u + 3u + 12u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
            std::vector<std::string>({" -->  K", " -->  K", " <--  K ( 0 )", " <-- K ( 1 )", " --> " + kCmd}));
  EXPECT_EQ(lines[5], " <-- " + kCmd + " ( 0 )");
  EXPECT_EQ(lines.back(), " <--  ( TimeOut )");
}

TEST_F(SendStringTest, NetworkWithoutEchoTimesOutTenTimesAndAnErrorEndsAtOnce) {
  UseNetwork();
  TraceOnToFile();
  EXPECT_FALSE(SendString(ctx, kCmd));
  EXPECT_EQ(p.socket.sends.size(), 10u);
  EXPECT_EQ(Now(), 10 * 3300);
  EXPECT_EQ(TraceLines().back(), " <--  ( General TimeOut  )");

  const int64_t start = Now();
  p.socket.InjectError(100, kSocketErrAborted, "Connection is aborted");
  EXPECT_FALSE(SendString(ctx, kCmd));
  EXPECT_EQ(TraceLines().back(), " <--  ( WSError )");
  EXPECT_LT(Now() - start, 1000);
}

TEST_F(SendStringTest, EndlessNonConfirmingSecondAnswersAreBounded) {
  UseNetwork();
  std::function<void()> chatter = [&] {
    p.socket.Deliver(0, "??");
    p.loop.After(50, chatter);
  };
  p.socket.responder = [&](const std::string& s) {
    p.socket.Deliver(10, s);
    p.loop.After(20, chatter);
  };
  EXPECT_TRUE(SendString(ctx, kCmd));  // the echo carried the command
  EXPECT_LT(Now(), 10 * 10 * 100);
}

TEST_F(SendStringTest, SerialSendWaits4500AndXoffAddsAPause) {
  UseSerial();
  EXPECT_TRUE(SendStringSerial(ctx, kCmd));  // nothing back is still true
  EXPECT_EQ(Now(), 4500);
  int64_t start = Now();
  p.serial.responder = [&](const std::string& s) { p.serial.QueueInput(20, s); };
  EXPECT_TRUE(SendStringSerial(ctx, kCmd));
  EXPECT_EQ(Now() - start, 20);
  start = Now();
  p.serial.responder = [&](const std::string& s) { p.serial.QueueInput(20, s + "\x13"); };
  EXPECT_TRUE(SendStringSerial(ctx, kCmd));
  EXPECT_EQ(Now() - start, 220);
  EXPECT_EQ(ctx.link.answer, kCmd + "\x13");
}

TEST_F(SendStringTest, WinsockSendNeedsASecondAnswerForLongerCommands) {
  TraceOnToFile();
  UseNetwork();
  EXPECT_FALSE(SendStringWinsock(ctx, kCmd));  // silent: three attempts, each traced
  EXPECT_EQ(p.socket.sends.size(), 3u);
  EXPECT_EQ(Now(), 3 * 3300);
  EXPECT_EQ(TraceLines(), std::vector<std::string>(3, " --> " + kCmd));

  NetworkEcho();
  int64_t start = Now();
  EXPECT_TRUE(SendStringWinsock(ctx, "J"));  // one character: the echo is enough
  EXPECT_EQ(Now() - start, 10);
  start = Now();
  EXPECT_FALSE(SendStringWinsock(ctx, kCmd));  // echo only: three second-answer time-outs
  EXPECT_EQ(Now() - start, 10 + 3 * 3300);
  NetworkEcho({{25, "ok"}});
  start = Now();
  EXPECT_TRUE(SendStringWinsock(ctx, kCmd));
  EXPECT_EQ(Now() - start, 25);
}

TEST_F(LinkTest, PauseWaitsWholeSlicesOf100Ms) {
  Pause(ctx, 99);
  EXPECT_EQ(Now(), 0);
  Pause(ctx, 250);
  EXPECT_EQ(Now(), 200);
  bool fired = false;  // events due meanwhile are delivered after each slice
  p.loop.Schedule(Now() + 50, [&] { fired = true; });
  Pause(ctx, 100);
  EXPECT_TRUE(fired);
}

}  // namespace
}  // namespace kolibra
