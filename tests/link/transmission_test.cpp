// Commands to the ECR: echo checks, time-outs, retries and pauses, all on
// the virtual clock.
#include <gtest/gtest.h>

#include "link/link_fixture.h"
#include "link/tcp_link.h"

namespace kolibra {
namespace {

const std::string kCmd = "1000H1R";

TEST(SerialSendCommand, ConfirmationRules) {
  struct Case {
    std::vector<std::string> answers;  // one per write, arriving 50 ms later
    bool result;
    std::size_t writes;
    int64_t end;
  } const cases[] = {
      {{}, false, 10, 41000},                // silent: ten time-outs with their pauses
      {{"X" + kCmd}, true, 1, 300},          // longer, contains the command
      {{"1000H1X", kCmd}, true, 2, 600},     // same length, differs: written again, no retry used
      {{"1000H1"}, false, 10, 41000},        // always short: only time-outs
      {{"9999H9R"}, false, 100, 100 * 300},  // endless mismatches: ten per retry, bounded
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers.empty() ? "silent" : c.answers[0]);
    LinkRig r;
    r.UseSerial();
    auto& fp = r.p;
    auto& cx = r.ctx;
    std::size_t n = 0;
    if (!c.answers.empty()) {
      fp.serial.responder = [&](const std::string&) {
        fp.serial.QueueInput(50, c.answers[std::min(n++, c.answers.size() - 1)]);
      };
    }
    EXPECT_EQ(SendCommand(cx, kCmd), c.result);
    EXPECT_EQ(fp.serial.writes.size(), c.writes);
    EXPECT_EQ(fp.loop.NowMs(), c.end);
    if (c.answers.empty()) {
      // Per attempt: write, pause (7 + 300 ms -> 3 slices), 3500 ms wait, 300 ms pause.
      for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(fp.serial.writeTimes[i], int64_t(i) * 4100);
      EXPECT_LT(fp.loop.waitCalls(), 100);  // every wait blocks, none spins
    }
  }
}

TEST_F(LinkTest, NetworkCommandIsTracedAndEndsDespiteRefusedReconnects) {
  TraceOnToFile();
  UseNetwork();
  const std::string stamp = TraceTimeStamp(ctx);
  EXPECT_FALSE(SendCommand(ctx, kCmd));  // no echo: ten time-outs, one send
  const std::string trace = fakes::ReadFileBytes(dir.File("trace.txt"));
  EXPECT_EQ(trace.rfind(stamp + " --> " + kCmd + "\r\n", 0), 0u) << trace;
  EXPECT_TRUE(trace.ends_with(" <-->  <--  ( General TimeOut  )\r\n")) << trace;

  // After the echo every reconnect is refused: each error ends the wait
  // early, yet the second-answer loop still comes to an end.
  ctx.settings.address = "10.0.0.1";
  p.socket.connectOutcome = fakes::FakeTcpSocket::ConnectOutcome::kRefuse;
  p.socket.responder = [this](const std::string& s) {
    p.socket.Deliver(10, s);
    p.socket.InjectError(20, kSocketErrRefused, "refused");
  };
  EXPECT_TRUE(SendCommand(ctx, kCmd));
  EXPECT_EQ(p.socket.connectTimes.size(), 100u);
}

TEST_F(LinkTest, SerialSendWaits4500ForAnAnswer) {
  UseSerial();
  EXPECT_FALSE(SendJobLineSerial(ctx, kCmd));  // nothing back at all: the ECR is not there
  EXPECT_EQ(Now(), 4500);
  int64_t start = Now();
  p.serial.responder = [&](const std::string& s) { p.serial.QueueInput(20, s); };
  EXPECT_TRUE(SendJobLineSerial(ctx, kCmd));
  EXPECT_EQ(Now() - start, 20);
}

// Over the serial line an XOFF holds the line until the XON, but only once
// the ECR on that slot has been seen to send XON after an XOFF: nothing is
// written meanwhile, and a command's answer goes on after the XON. After the
// XOFF of an ECR that never sends XON only the fixed pause of a job line
// comes, and a command's answer is complete at its length.
TEST(SerialFlowControl, HoldUntilXonOnlyForAnEcrSeenToSendIt) {
  const struct {
    const char* name;
    int xonSeenOnSlot;   // 0: none yet; else the slot whose ECR sent XON after an XOFF
    bool jobLine;
    std::string command;
    std::vector<std::pair<int64_t, std::string>> answer;  // to the first write
    int64_t end;         // when the first send returns
    std::string text;    // ctx.link.answer then
    int64_t nextWrite;   // when the next send writes
  } cases[] = {
      // Quiet 200 ms after the last byte: "6" at 530.
      {"dump, XON after 500 ms", 1, false, "48F", {{10, "48F\x13"}, {510, "\x11"}, {530, "6"}}, 730, "48F6", 730},
      {"reset, XON after 500 ms", 1, false, " K", {{10, " K\x13"}, {510, "\x11"}, {530, "K"}}, 730, " KK", 730},
      // The first XON ever comes in this answer: quiet 200 ms after its read.
      {"dump, first XON ever", 0, false, "48F", {{10, "48F\x13"}, {150, "\x11"}, {170, "6"}}, 500, "48F6", 500},
      // An ECR that sent XON once and then does not: the hold lasts as long
      // as the wait (3500 ms) and its pause.
      {"dump, XON seen before, not now", 1, false, "48F", {{10, "48F\x13" "6"}}, 300 + 3500 + 300, "48F6", 4100},
      // Never an XON: the answer is complete at the command's length.
      {"dump, XOFF without XON", 0, false, "48F", {{10, "48F\x13" "6"}}, 300, "48F6", 300},
      {"dump, XON seen on another slot", 2, false, "48F", {{10, "48F\x13" "6"}}, 300, "48F6", 300},
      // The job line keeps its 200 ms pause; the next line waits for the XON.
      {"job line, XON after 500 ms", 1, true, kCmd, {{20, kCmd + "\x13"}, {500, "\x11"}}, 220, kCmd + "\x13", 500},
      {"job line, XON after 100 ms", 1, true, kCmd, {{20, kCmd + "\x13"}, {100, "\x11"}}, 220, kCmd + "\x13", 220},
      {"job line, XON seen before, not now", 1, true, kCmd, {{20, kCmd + "\x13"}}, 220, kCmd + "\x13",
       220 + 4500},
      // Never an XON: the next line 200 ms after the XOFF.
      {"job line, XOFF without XON", 0, true, kCmd, {{20, kCmd + "\x13"}}, 220, kCmd + "\x13", 220},
      {"job line, XON seen on another slot", 2, true, kCmd, {{20, kCmd + "\x13"}}, 220, kCmd + "\x13", 220},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LinkRig r;
    r.UseSerial();
    auto& fp = r.p;
    auto& cx = r.ctx;
    if (c.xonSeenOnSlot != 0) {  // a line answered with XOFF and at once XON
      cx.cycle.currentSlot = static_cast<int16_t>(c.xonSeenOnSlot);
      fp.serial.responder = [&](const std::string& s) { fp.serial.QueueInput(10, s + "\x13\x11"); };
      ASSERT_TRUE(SendJobLineSerial(cx, "1T"));
      fp.serial.writes.clear();
      fp.serial.writeTimes.clear();
    }
    cx.cycle.currentSlot = 1;
    const int64_t t0 = fp.loop.NowMs();
    fp.serial.responder = [&](const std::string& s) {
      if (fp.serial.writes.size() > 1) return fp.serial.QueueInput(20, s);
      for (const auto& [at, bytes] : c.answer) fp.serial.QueueInput(at, bytes);
    };
    const auto send = [&] { return c.jobLine ? SendJobLineSerial(cx, c.command) : SendCommand(cx, c.command); };
    EXPECT_TRUE(send());
    EXPECT_EQ(fp.loop.NowMs() - t0, c.end);
    EXPECT_EQ(cx.link.answer, c.text);
    send();
    ASSERT_EQ(fp.serial.writes.size(), 2u);
    EXPECT_EQ(fp.serial.writeTimes[1] - t0, c.nextWrite);
    EXPECT_LT(fp.loop.waitCalls(), 100);  // every wait blocks, none spins
  }
}

// TCP is a stream: what the ECR sends may come in one read or late, and
// the line is written once whatever the timing. A command needs its echo and
// waits for a second answer; a job line longer than one character needs the
// second answer too.
TEST_F(LinkTest, TcpAnswersAreFramedFromTheStreamAndNeverAskedForTwice) {
  const struct {
    const char* name;
    bool jobLine;
    std::string command;
    std::vector<std::pair<int64_t, std::string>> answers;  // after the first send
    bool result;
    int64_t end;
    std::string answer;  // ctx.link.answer afterwards
  } cases[] = {
      {"reset, echo and K in one read", false, " K", {{10, " KK"}}, true, 10, "K"},
      {"dump, echo and answer in one read", false, "48F", {{10, "48F48F6"}}, true, 10, "48F6"},
      {"reset, answered after 3.5 s", false, " K", {{3500, " K"}, {3600, "K"}}, true, 3600, "K"},
      {"reset, echo after 30 s", false, " K", {{30000, " K"}, {30010, "K"}}, true, 30010, "K"},
      {"sale, echo and answer in one read", true, kCmd, {{10, kCmd + kCmd}}, true, 10, kCmd},
      {"sale, answered after 3.5 s", true, kCmd, {{3500, kCmd}, {3520, kCmd}}, true, 3520, kCmd},
      // It comes during the pause after a time-out: kept for the next slice.
      {"sale, second answer in the pause", true, kCmd, {{10, kCmd}, {3150, kCmd}}, true, 3310, kCmd},
      {"sale, never answered", true, kCmd, {}, false, 3 * 3300, ""},
      {"sale, echo only: three second-answer time-outs", true, kCmd, {{10, kCmd}}, false, 10 + 3 * 3300, ""},
      {"one-character job line: the echo is enough", true, "J", {{10, "J"}}, true, 10, "J"},
      {"sale, echo and a second answer", true, kCmd, {{10, kCmd}, {25, "ok"}}, true, 25, "ok"},
      {"command, no echo: ten time-outs", false, kCmd, {}, false, 10 * 3300, ""},
      {"command, echo without second answer: ten time-outs", false, kCmd, {{10, kCmd}}, true, 10 + 10 * 3300, ""},
      {"reset, K after the echo", false, " K", {{10, " K"}, {30, "K"}}, true, 30, "K"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LinkRig r;
    r.UseNetwork();
    auto& fp = r.p;
    auto& cx = r.ctx;
    fp.socket.responder = [&](const std::string&) {
      if (fp.socket.sends.size() > 1) return;
      for (const auto& [at, bytes] : c.answers) fp.socket.Deliver(at, bytes);
    };
    EXPECT_EQ(c.jobLine ? SendJobLineTcp(cx, c.command) : SendCommand(cx, c.command), c.result);
    EXPECT_EQ(fp.socket.sends, std::vector<std::string>{c.command});
    EXPECT_EQ(fp.loop.NowMs(), c.end);
    EXPECT_EQ(cx.link.answer, c.answer);
    EXPECT_TRUE(cx.link.rx.pending.empty());
  }
}

// A socket that reads connected and refuses every send.
class RefusingSocket : public fakes::FakeTcpSocket {
 public:
  using FakeTcpSocket::FakeTcpSocket;
  bool Send(const std::string&) override { return false; }
};

TEST(LinkErrors, EachOperationReportsItsOwnWay) {
  enum Op { kCommand, kJobLineTcp, kJobLines };
  const std::string portClosed = "Error 8018 (Operation valid only when the port is open) in procedure ";
  const std::string refused =
      "Error 40006 (Wrong protocol or connection state for the requested transaction or request) in procedure ";
  const struct {
    Op op;
    bool network;
    bool outputBlocked;  // the output file's folder is missing
    std::string message;
    bool errorTraced;    // the message also goes to the trace as " <-- ..."
    int64_t end;         // the failure's pause
  } cases[] = {
      {kCommand, false, false, portClosed + "SendString of Modulo Module1", false, 3000},
      {kCommand, true, false, refused + "SendString of Modulo Module1", false, 3000},
      {kJobLineTcp, true, false, refused + "SendStringWinsock of Modulo Module1", true, 3000},
      {kJobLines, true, false, refused + "SendStringWinsock of Modulo Module1", true, 3000},
      {kJobLines, false, true, "Error 75 (Path/File access error) in procedure DoSendFile of Modulo Module1", false,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    fakes::FakePlatform fp;
    RefusingSocket socket(fp.loop);
    Platform platform{fp.loop, fp.serial, socket, fp.notifier, fp.fs, fp.system, fp.folderWatch, &fp.tray};
    fakes::ScratchDir dir;
    AppContext cx(platform);
    cx.settingsDir = cx.dataDir = dir.path();  // the job journal goes there
    InitLink(cx);
    cx.settings.linkMode = c.network ? LinkMode::kNetwork : LinkMode::kSerial;
    socket.ForceState(kSocketConnected);  // the serial port stays closed
    cx.settings.trace = true;
    ASSERT_TRUE(OpenTraceFile(cx, dir.File("trace.txt")));
    cx.link.outputPath = dir.File(c.outputBlocked ? "missing/SR_OUT.001" : "SR_OUT.001");
    bool ok = true;
    if (c.op == kCommand) ok = SendCommand(cx, kCmd);
    if (c.op == kJobLineTcp) ok = SendJobLineTcp(cx, kCmd);
    if (c.op == kJobLines) ok = SendJobLines(cx, {kCmd, "1T"});
    EXPECT_FALSE(ok);
    EXPECT_EQ(fp.notifier.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(fp.loop.NowMs(), c.end);
    EXPECT_FALSE(cx.link.output.IsOpen());
    const std::string trace = fakes::ReadFileBytes(dir.File("trace.txt"));
    EXPECT_EQ(trace.find(" --> " + kCmd) != std::string::npos, c.op == kCommand) << trace;
    EXPECT_EQ(trace.ends_with(" <-- " + c.message + "\r\n"), c.errorTraced) << trace;
  }
}

}  // namespace
}  // namespace kolibra
