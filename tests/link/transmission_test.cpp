// Commands to the ECR: echo checks, time-outs, retries and pauses, all on
// the virtual clock.
#include <gtest/gtest.h>

#include "link/link_fixture.h"
#include "link/tcp_link.h"

namespace kolibra {
namespace {

const std::string kCmd = "1000H1R";

using SerialSendString = LinkTest;

TEST_F(SerialSendString, SilentEcrUsesTenTimeOutsWithTheirPauses) {
  UseSerial();
  EXPECT_FALSE(SendString(ctx, kCmd));
  // Per attempt: write, pause (7 + 300 ms -> 3 slices), 3500 ms wait, 300 ms pause.
  ASSERT_EQ(p.serial.writes.size(), 10u);
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(p.serial.writeTimes[i], int64_t(i) * 4100);
  EXPECT_EQ(Now(), 41000);
  EXPECT_FALSE(p.loop.TimerEnabled(ctx.link.timer1));
  EXPECT_LT(p.loop.waitCalls(), 100);  // every wait blocks, none spins
}

TEST_F(SerialSendString, ConfirmationRules) {
  struct Case {
    std::vector<std::string> answers;  // one per write, arriving 50 ms later
    bool result;
    std::size_t writes;
    int64_t end;
  };
  const Case cases[] = {
      {{kCmd}, true, 1, 300},                          // exact echo
      {{"X" + kCmd}, true, 1, 300},                    // longer, contains the command
      {{"1000H1X", kCmd}, true, 2, 600},               // same length, differs: written again, no retry used
      {{"1000H1"}, false, 10, 41000},                  // always short: only time-outs
  };
  for (const Case& c : cases) {
    fakes::FakePlatform fp;
    AppContext cx(fp.platform);
    InitLink(cx);
    cx.ui.optionRs232 = true;
    ASSERT_TRUE(fp.serial.Configure(1, "9600,N,8,1"));
    ASSERT_TRUE(fp.serial.Open());
    std::size_t n = 0;
    fp.serial.responder = [&](const std::string&) {
      fp.serial.QueueInput(50, c.answers[std::min(n++, c.answers.size() - 1)]);
    };
    EXPECT_EQ(SendString(cx, kCmd), c.result) << c.answers[0];
    EXPECT_EQ(fp.serial.writes.size(), c.writes) << c.answers[0];
    EXPECT_EQ(fp.loop.NowMs(), c.end) << c.answers[0];
  }
}

TEST_F(SerialSendString, EndlessMismatchingEchoesAreBounded) {
  UseSerial();
  p.serial.responder = [&](const std::string&) { p.serial.QueueInput(10, "9999H9R"); };
  EXPECT_FALSE(SendString(ctx, kCmd));
  // Ten mismatches in a row use one of the ten retries.
  EXPECT_EQ(p.serial.writes.size(), 100u);
  EXPECT_EQ(Now(), 100 * 300);
}

TEST_F(SerialSendString, ClosedPortIsAnUnexpectedFailure) {
  ctx.ui.optionRs232 = true;
  EXPECT_FALSE(SendString(ctx, " K"));
  ASSERT_EQ(p.notifier.messages.size(), 1u);
  EXPECT_EQ(p.notifier.messages[0],
            "Error 8018 (Operation valid only when the port is open) in procedure SendString of Modulo Module1");
  EXPECT_EQ(Now(), 3000);
}

using NetworkSendString = LinkTest;

TEST_F(NetworkSendString, NotConnectedFailsAtOnceAfterTheSendLine) {
  UseNetwork();
  TraceOnToFile();
  p.socket.ForceState(kSocketClosed);
  EXPECT_FALSE(SendString(ctx, " K"));
  EXPECT_EQ(Now(), 0);
  EXPECT_TRUE(p.socket.sends.empty());
  EXPECT_EQ(TraceLines(), std::vector<std::string>({" -->  K"}));
}

TEST_F(NetworkSendString, EchoAndSecondAnswerAreTracedWithMarkers) {
  UseNetwork();
  TraceOnToFile();
  p.socket.responder = [&](const std::string& s) {
    p.socket.Deliver(10, s);
    p.socket.Deliver(30, "K");
  };
  EXPECT_TRUE(SendString(ctx, " K"));
  EXPECT_EQ(Now(), 30);
  EXPECT_EQ(TraceLines(), std::vector<std::string>({" -->  K", " <--  K ( 0 )", " <-- K ( 1 )"}));
}

TEST_F(NetworkSendString, EchoWithoutSecondAnswerIsTrueAfterTenTimeOuts) {
  UseNetwork();
  TraceOnToFile();
  p.socket.responder = [&](const std::string& s) { p.socket.Deliver(10, s); };
  EXPECT_TRUE(SendString(ctx, kCmd));
  EXPECT_EQ(p.socket.sends.size(), 1u);
  EXPECT_EQ(Now(), 10 + 10 * 3300);
  const auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[1], " <-- " + kCmd + " ( 0 )");
  EXPECT_EQ(lines[11], " <--  ( TimeOut )");
}

TEST_F(NetworkSendString, NoEchoTimesOutTenTimesAndAnErrorEndsAtOnce) {
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

TEST_F(NetworkSendString, EndlessNonConfirmingSecondAnswersAreBounded) {
  UseNetwork();
  // Every second answer is something else, arriving again and again.
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

using SendStringSerialTest = LinkTest;

TEST_F(SendStringSerialTest, NothingBackIsStillTrueAfter4500AndXoffAddsAPause) {
  UseSerial();
  EXPECT_TRUE(SendStringSerial(ctx, kCmd));
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

using SendStringWinsockTest = LinkTest;

TEST_F(SendStringWinsockTest, OneCharacterNeedsOneAnswerLongerNeedsTwo) {
  UseNetwork();
  p.socket.responder = [&](const std::string& s) { p.socket.Deliver(10, s); };
  EXPECT_TRUE(SendStringWinsock(ctx, "J"));
  EXPECT_EQ(Now(), 10);

  int64_t start = Now();
  EXPECT_FALSE(SendStringWinsock(ctx, kCmd));  // echo only: three second-answer time-outs
  EXPECT_EQ(Now() - start, 10 + 3 * 3300);

  p.socket.responder = [&](const std::string& s) {
    p.socket.Deliver(10, s);
    p.socket.Deliver(25, "ok");
  };
  start = Now();
  EXPECT_TRUE(SendStringWinsock(ctx, kCmd));
  EXPECT_EQ(Now() - start, 25);
}

TEST_F(SendStringWinsockTest, SilentEcrIsThreeAttemptsEachTraced) {
  UseNetwork();
  TraceOnToFile();
  EXPECT_FALSE(SendStringWinsock(ctx, kCmd));
  EXPECT_EQ(p.socket.sends.size(), 3u);
  EXPECT_EQ(Now(), 3 * 3300);
  EXPECT_EQ(TraceLines(), std::vector<std::string>(3, " --> " + kCmd));
}

TEST_F(LinkTest, PauseWaitsWholeSlicesOf100Ms) {
  Pause(ctx, 99);
  EXPECT_EQ(Now(), 0);
  Pause(ctx, 250);
  EXPECT_EQ(Now(), 200);
  // Events due meanwhile are delivered after each slice.
  bool fired = false;
  p.loop.Schedule(Now() + 50, [&] { fired = true; });
  Pause(ctx, 100);
  EXPECT_TRUE(fired);
}

TEST_F(LinkTest, TimeOutClockRaisesTheFlagWhenTheCountdownRunsOut) {
  ctx.link.timeoutCountdown = 2;
  Timer1_Timer(ctx);
  EXPECT_FALSE(ctx.link.timeoutFlag);
  Timer1_Timer(ctx);
  EXPECT_TRUE(ctx.link.timeoutFlag);
}

}  // namespace
}  // namespace kolibra
