// The link on the fake platform's virtual clock: sends, time-outs, pauses, TCP connection, closing reply.
#include <gtest/gtest.h>

#include <string>

#include "core/app_context.h"
#include "fakes/context_rig.h"
#include "link/closing_reply.h"
#include "link/tcp_link.h"
#include "link/trace.h"
#include "link/transmission.h"

namespace kolibra {
namespace {

struct LinkRig : fakes::ContextRig {
  LinkRig() {
    ctx.link.outputPath = data.File("SR_OUT.001");
    InitLink(ctx);
  }

  void UseSerial() {
    ctx.settings.linkMode = LinkMode::kSerial;
    ASSERT_TRUE(fp.serial.Configure(1, "9600,N,8,1").ok());
    ASSERT_TRUE(fp.serial.Open().ok());
  }
  void UseNetwork() {  // the socket already connected
    ctx.settings.linkMode = LinkMode::kNetwork;
    fp.socket.ForceState(kSocketConnected);
  }
  int64_t Now() { return fp.loop.NowMs(); }
};

class LinkTest : public ::testing::Test, public LinkRig {};

const std::string kCmd = "1000H1R";

// A command's answer must hold it; a job line waits 4500 ms for any answer.
TEST(SerialSend, ConfirmationRules) {
  // answers: one per write, arriving 50 ms later.
  struct Case { bool jobLine; std::vector<std::string> answers; bool result; std::size_t writes; int64_t end; };
  const Case cases[] = {
      {false, {}, false, 10, 41000},                // silent: ten time-outs with their pauses
      {false, {"X" + kCmd}, true, 1, 300},          // longer, contains the command
      {false, {"1000H1X", kCmd}, true, 2, 600},     // same length, differs: written again, no retry used
      {false, {"1000H1"}, false, 10, 41000},        // always short: only time-outs
      {false, {"9999H9R"}, false, 100, 100 * 300},  // endless mismatches: ten per retry, bounded
      {true, {}, false, 1, 4500},                   // the ECR is not there
      {true, {kCmd}, true, 1, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.jobLine) + (c.answers.empty() ? " silent" : c.answers[0]));
    LinkRig r;
    r.UseSerial();
    std::size_t n = 0;
    r.fp.serial.responder = [&](const std::string&) {
      if (!c.answers.empty()) r.fp.serial.QueueInput(50, c.answers[std::min(n++, c.answers.size() - 1)]);
    };
    EXPECT_EQ(c.jobLine ? SendJobLineSerial(r.ctx, kCmd) : SendCommand(r.ctx, kCmd), c.result);
    EXPECT_EQ(r.fp.serial.writes.size(), c.writes);
    EXPECT_EQ(r.fp.loop.NowMs(), c.end);
    if (c.answers.empty() && !c.jobLine) {
      // Per attempt: write, pause (7 + 300 ms -> 3 slices), 3500 ms wait, 300 ms pause.
      for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(r.fp.serial.writeTimes[i], int64_t(i) * 4100);
      EXPECT_LT(r.fp.loop.waitCalls(), 100);  // every wait blocks, none spins
    }
  }
}

constexpr int kTcp = -1;

// Serial: an XOFF holds the line until the XON only once that slot's ECR was seen to send XON after one;
// else a job line gets its fixed pause, an answer ends at its length. TCP: the line is written once
// whatever the reads; a command, and a job line of more than one character, wait for a second answer.
TEST(Send, AnswersAreFramedHeldForXonAndNeverAskedForTwice) {
  // slot: kTcp, or the serial slot whose ECR sent XON after an XOFF (0: none); answer: to the first write;
  // end: when the send returns; text: ctx.link.answer then; nextWrite: when the next serial send writes.
  const struct { const char* name; int slot; bool jobLine; std::string command;
    std::vector<std::pair<int64_t, std::string>> answer; bool result; int64_t end; std::string text; int64_t nextWrite;
  } cases[] = {
      // Quiet 200 ms after the last byte: "6" at 530.
      {"dump, XON after 500 ms", 1, false, "48F", {{10, "48F\x13"}, {510, "\x11"}, {530, "6"}}, true, 730, "48F6", 730},
      {"reset, XON after 500 ms", 1, false, " K", {{10, " K\x13"}, {510, "\x11"}, {530, "K"}}, true, 730, " KK", 730},
      // The first XON ever comes in this answer: quiet 200 ms after its read.
      {"dump, first XON ever", 0, false, "48F", {{10, "48F\x13"}, {150, "\x11"}, {170, "6"}}, true, 500, "48F6", 500},
      // An ECR that sent XON once and then does not: the hold lasts the wait (3500 ms) and its pause.
      {"dump, XON seen, not now", 1, false, "48F", {{10, "48F\x13" "6"}}, true, 300 + 3500 + 300, "48F6", 4100},
      // Never an XON: the answer is complete at the command's length.
      {"dump, XOFF without XON", 0, false, "48F", {{10, "48F\x13" "6"}}, true, 300, "48F6", 300},
      {"dump, XON seen on another slot", 2, false, "48F", {{10, "48F\x13" "6"}}, true, 300, "48F6", 300},
      // The job line keeps its 200 ms pause; the next line waits for the XON.
      {"line, XON after 500 ms", 1, true, kCmd, {{20, kCmd + "\x13"}, {500, "\x11"}}, true, 220, kCmd + "\x13", 500},
      {"line, XON after 100 ms", 1, true, kCmd, {{20, kCmd + "\x13"}, {100, "\x11"}}, true, 220, kCmd + "\x13", 220},
      {"line, XON seen, not now", 1, true, kCmd, {{20, kCmd + "\x13"}}, true, 220, kCmd + "\x13", 220 + 4500},
      // XON from another slot's ECR only: the next line 200 ms after the XOFF.
      {"line, XON seen on another slot", 2, true, kCmd, {{20, kCmd + "\x13"}}, true, 220, kCmd + "\x13", 220},
      {"tcp reset, answered after 3.5 s", kTcp, false, " K", {{3500, " K"}, {3600, "K"}}, true, 3600, "K", 0},
      {"tcp reset, echo after 30 s", kTcp, false, " K", {{30000, " K"}, {30010, "K"}}, true, 30010, "K", 0},
      {"tcp sale, answered after 3.5 s", kTcp, true, kCmd, {{3500, kCmd}, {3520, kCmd}}, true, 3520, kCmd, 0},
      // It comes during the pause after a time-out: kept for the next slice.
      {"tcp sale, second answer in the pause", kTcp, true, kCmd, {{10, kCmd}, {3150, kCmd}}, true, 3310, kCmd, 0},
      {"tcp sale, never answered", kTcp, true, kCmd, {}, false, 3 * 3300, "", 0},
      {"tcp sale, echo only: three time-outs", kTcp, true, kCmd, {{10, kCmd}}, false, 10 + 3 * 3300, "", 0},
      {"tcp one-character line: the echo is enough", kTcp, true, "J", {{10, "J"}}, true, 10, "J", 0},
      {"tcp sale, echo and a second answer", kTcp, true, kCmd, {{10, kCmd}, {25, "ok"}}, true, 25, "ok", 0},
      {"tcp command, no echo: ten time-outs", kTcp, false, kCmd, {}, false, 10 * 3300, "", 0},
      {"tcp command, echo only: ten time-outs", kTcp, false, kCmd, {{10, kCmd}}, true, 10 + 10 * 3300, "", 0},
      {"tcp reset, K after the echo", kTcp, false, " K", {{10, " K"}, {30, "K"}}, true, 30, "K", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LinkRig r;
    r.UseSerial();
    if (c.slot == kTcp) r.UseNetwork();
    if (c.slot > 0) {  // a line answered with XOFF and at once XON
      r.ctx.job.currentSlot = static_cast<int16_t>(c.slot);
      r.fp.serial.responder = [&](const std::string& s) { r.fp.serial.QueueInput(10, s + "\x13\x11"); };
      ASSERT_TRUE(SendJobLineSerial(r.ctx, "1T"));
      r.fp.serial.writes.clear();
      r.fp.serial.writeTimes.clear();
    }
    r.ctx.job.currentSlot = 1;
    const int64_t t0 = r.fp.loop.NowMs();
    r.fp.serial.responder = [&](const std::string& s) {
      if (r.fp.serial.writes.size() > 1) return r.fp.serial.QueueInput(20, s);
      for (const auto& [at, bytes] : c.answer) r.fp.serial.QueueInput(at, bytes);
    };
    r.fp.socket.responder = [&](const std::string&) {
      if (r.fp.socket.sends.size() > 1) return;
      for (const auto& [at, bytes] : c.answer) r.fp.socket.Deliver(at, bytes);
    };
    const auto line = c.slot == kTcp ? &SendJobLineTcp : &SendJobLineSerial;
    const auto send = [&] { return c.jobLine ? line(r.ctx, c.command) : SendCommand(r.ctx, c.command); };
    EXPECT_EQ(send(), c.result);
    EXPECT_EQ(r.fp.loop.NowMs() - t0, c.end);
    EXPECT_EQ(r.ctx.link.answer, c.text);
    EXPECT_TRUE(r.ctx.link.rx.pending.empty());
    EXPECT_EQ(r.fp.socket.sends, c.slot == kTcp ? std::vector<std::string>{c.command} : std::vector<std::string>{});
    if (c.slot != kTcp) {
      send();
      ASSERT_EQ(r.fp.serial.writes.size(), 2u);
      EXPECT_EQ(r.fp.serial.writeTimes[1] - t0, c.nextWrite);
    }
    EXPECT_LT(r.fp.loop.waitCalls(), 100);  // every wait blocks, none spins
  }
}

TEST(LinkErrors, EachOperationReportsItsOwnWay) {
  enum Op { kCommand, kJobLineTcp, kJobLines };
  const std::string portClosed = "Error 8018 (Operation valid only when the port is open) in procedure ";
  const std::string refused =
      "Error 40006 (Wrong protocol or connection state for the requested transaction or request) in procedure ";
  // outputBlocked: the output file's folder is missing; errorTraced: the message is traced as " <-- ...".
  const struct { Op op; bool network, outputBlocked; std::string message; bool errorTraced; int64_t end; } cases[] = {
      {kCommand, false, false, portClosed + "SendString of Modulo Module1", false, 3000},
      {kCommand, true, false, refused + "SendString of Modulo Module1", false, 3000},
      {kJobLineTcp, true, false, refused + "SendStringWinsock of Modulo Module1", true, 3000},
      {kJobLines, true, false, refused + "SendStringWinsock of Modulo Module1", true, 3000},
      {kJobLines, false, true, "Error 75 (Path/File access error) in procedure DoSendFile of Modulo Module1", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    LinkRig r;
    r.UseNetwork();
    r.fp.socket.refuseSends = true;
    if (!c.network) r.ctx.settings.linkMode = LinkMode::kSerial;  // the serial port stays closed
    r.ctx.settings.trace = true;
    ASSERT_TRUE(OpenTraceFile(r.ctx, r.data.File("trace.txt")));
    r.ctx.link.outputPath = r.data.File(c.outputBlocked ? "missing/SR_OUT.001" : "SR_OUT.001");
    EXPECT_FALSE(c.op == kCommand      ? SendCommand(r.ctx, kCmd)
                 : c.op == kJobLineTcp ? SendJobLineTcp(r.ctx, kCmd)
                                       : SendJobLines(r.ctx, {kCmd, "1T"}));
    EXPECT_EQ(r.fp.notifier.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(r.fp.loop.NowMs(), c.end);
    EXPECT_FALSE(r.ctx.link.output.IsOpen());
    const std::string trace = fakes::ReadFileBytes(r.data.File("trace.txt"));
    EXPECT_EQ(trace.find(" --> " + kCmd) != std::string::npos, c.op == kCommand) << trace;
    EXPECT_EQ(trace.ends_with(" <-- " + c.message + "\r\n"), c.errorTraced) << trace;
  }
}

using Fake = fakes::FakeTcpSocket;

TEST_F(LinkTest, AddressesReconnectsAndTracedCommands) {
  const std::pair<std::string, bool> cases[] = {{"255.255.255.255", true}, {"1.2.3.4.x", true}, {"-1.2.3.4", true},
                                                {"1.2.3", false}, {"1.2.3.256", false}, {"1..3.4", false}};
  for (const auto& [address, ok] : cases) EXPECT_EQ(IsValidIpAddress(address), ok) << address;
  ctx.settings.linkMode = LinkMode::kNetwork;
  ctx.settings.address = "192.168.1.50";
  fp.socket.connectDelayMs = 1500;
  EXPECT_TRUE(Reconnect(ctx, 10));
  EXPECT_EQ(Now(), 2000);
  EXPECT_EQ(fp.socket.RemoteHost(), "192.168.1.50");
  EXPECT_EQ(fp.socket.remotePort(), 8000);
  EXPECT_EQ(ctx.state.connection, ConnectionState::kOpen);
  // A standing connection is closed first (200 ms); nothing listening: eleven polls.
  fp.socket.connectOutcome = Fake::ConnectOutcome::kNever;
  EXPECT_FALSE(Reconnect(ctx, 10));
  EXPECT_EQ(Now(), 2000 + 200 + 11000);
  const std::string notMade = "Connessione con l'Ecr non riuscita all'indirizzo 192.168.1.50";
  EXPECT_EQ(fp.notifier.logs.back(), notMade);  // no error came: no reason

  fp.socket.connectOutcome = Fake::ConnectOutcome::kRefuse;
  EXPECT_FALSE(Reconnect(ctx, 10));
  EXPECT_LT(Now(), 13200 + 14000);  // reconnects inside the polls do not stretch the limit
  EXPECT_EQ(fp.notifier.logs.back(), notMade + ": Connection is forcefully rejected");
  EXPECT_TRUE(ctx.link.rx.connectionError);
  EXPECT_EQ(ctx.state.connection, ConnectionState::kClosed);
  const std::size_t connects = fp.socket.connectTimes.size();
  EXPECT_GT(connects, 3u);  // each refusal started a new connect
  // Refusals keep coming for a minute: the reconnects follow one another.
  Pause(ctx, 60000);
  EXPECT_GT(fp.socket.connectTimes.size(), connects + 20);
  EXPECT_LE(fp.loop.maxWaitDepth(), 4);
  EXPECT_LE(fp.loop.postedPending(), 1u);
  // Once the ECR accepts, the queued reconnect connects and nothing follows.
  fp.socket.connectOutcome = Fake::ConnectOutcome::kConnect;
  Pause(ctx, 5000);
  EXPECT_EQ(fp.socket.State(), kSocketConnected);
  EXPECT_FALSE(ctx.link.reconnectQueued);
  EXPECT_EQ(fp.loop.postedPending(), 0u);

  EXPECT_EQ(TraceTimeStamp(CivilTime{2026, 12, 5, 9, 5, 7, 4}), "20261205_090507.004 <--> ");
  fp.loop.SetLocalTime(CivilTime{2026, 1, 1, 0, 30, 0, 0}, 60);
  EXPECT_EQ(TraceTimeStamp(ctx), "20251231_233000.000 <--> ");
}

TEST_F(LinkTest, RefusalDuringTheJobsPollsConnectsAgainDespiteAQueuedReconnect) {
  ctx.settings.linkMode = LinkMode::kNetwork;
  ctx.settings.address = "192.168.1.50";
  // A reconnect queued from the main loop is still running (its pause) when a job starts: the job's
  // own Reconnect must keep connecting after each refusal, so an ECR back after two seconds is found.
  fp.socket.connectOutcome = Fake::ConnectOutcome::kRefuse;
  fp.loop.Schedule(2000, [this] { fp.socket.connectOutcome = Fake::ConnectOutcome::kConnect; });
  bool connected = false;
  int64_t connectedAt = 0;  // when the job's Reconnect returned
  fp.loop.Schedule(300, [&] {  // the polling tick that starts the job
    connected = Reconnect(ctx, 10);
    connectedAt = Now();
  });
  OpenConnection(ctx, false);  // refused at 10 ms, from the main loop
  while (connectedAt == 0) fp.loop.Wait(Now() + 100);
  EXPECT_TRUE(connected);
  EXPECT_LE(connectedAt, 4000);
  // Main loop, queued reconnect, job, error handler: no nesting per refusal.
  EXPECT_LE(fp.loop.maxWaitDepth(), 5);
}

TEST_F(LinkTest, NetworkCommandIsTracedAndEndsDespiteRefusedReconnects) {
  ctx.settings.trace = true;
  ASSERT_TRUE(OpenTraceFile(ctx, data.File("trace.txt")));
  UseNetwork();
  const std::string stamp = TraceTimeStamp(ctx);
  EXPECT_FALSE(SendCommand(ctx, kCmd));  // no echo: ten time-outs, one send
  const std::string trace = fakes::ReadFileBytes(data.File("trace.txt"));
  EXPECT_EQ(trace.rfind(stamp + " --> " + kCmd + "\r\n", 0), 0u) << trace;
  EXPECT_TRUE(trace.ends_with(" <-->  <--  ( General TimeOut  )\r\n")) << trace;
  // After the echo every reconnect is refused and ends the wait early: the loop still ends.
  ctx.settings.address = "10.0.0.1";
  fp.socket.connectOutcome = Fake::ConnectOutcome::kRefuse;
  fp.socket.responder = [this](const std::string& s) {
    fp.socket.Deliver(10, s);
    fp.socket.InjectError(20, kSocketErrRefused, "refused");
  };
  EXPECT_TRUE(SendCommand(ctx, kCmd));
  EXPECT_EQ(fp.socket.connectTimes.size(), 100u);
}

const std::string kStx = "\x02", kEtx = "\x03";
const std::string kHead = kStx + "05-12-2026 09-41";

// STX, date and time, filler, first number, a character, receipt number, two characters, ETX.
std::string Reply(const std::string& first, const std::string& number, const std::string& afterNumbers = "") {
  return kHead + "ABCDEFG" + first + "-" + number + "ZZ" + afterNumbers + kEtx;
}

// The records, none when a frame is missing, or error 5 when a field lies outside the reply (ETX early).
TEST(OutputRecords, FieldPositionsNumberFormatsAndShortReplies) {
  const std::string sixteen = "0123456789abcdef";
  // The FT form reads 16 further back: a reply long enough for the others is not.
  const std::string etxAt21 = std::string(21, 'x') + kEtx + kHead;
  // number: "-": no records; "5": error 5; "?": records.
  const struct { std::string reply; bool footerRt, modelFt; std::string number; } cases[] = {
      {Reply("  12", "0345"), false, false, "0345"}, {Reply("  12", "  45"), false, false, "  45"},
      {Reply("  12", "0345"), true, false, "0012-0345"}, {Reply("AB12", "  78"), true, false, "AB12-0078"},
      {Reply(" -12", "78  "), true, false, "-0012-0078"}, {Reply("0007", "0123", sixteen), true, true, "0007-0123"},
      {Reply("0007", "0123", sixteen), false, true, "0123"}, {kHead + std::string(20, 'x'), false, false, "-"},
      {std::string(40, 'x') + kEtx, false, false, "-"}, {kStx + "05-12" + kEtx, false, false, "5"},
      {kEtx + kHead, false, false, "5"}, {etxAt21, true, false, "?"}, {etxAt21, false, true, "5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    const auto r = BuildOutputRecords(c.reply, c.footerRt, c.modelFt);
    const std::string kind = r.HasError() ? std::to_string(r.Error().number) : r.Value().has_value() ? "?" : "-";
    EXPECT_EQ(kind, c.number.size() > 1 ? "?" : c.number);
    if (kind == "?" && c.number != "?") {
      EXPECT_EQ(r.Value()->time, "TIME,CASS. 1 09:41 CASSA   1 ,E,A1;");
      EXPECT_EQ(r.Value()->date, "DATE,05/12/26  SCONTR. N. " + c.number + ",E,A1;");
    }
  }
}

const std::string kOutput = "TIME,CASS. 1 09:41 CASSA   1 ,E,A1;\r\nDATE,05/12/26  SCONTR. N. 0345,E,A1;\r\n";

// However the ECR's bytes are cut into reads, the reply reaches the output file; it is read after the
// last payment line only. Silence, or endless short chunks, after it: a failure within its time-outs.
TEST(SendJobLines, ClosingReplyHoweverItIsCutOrMissing) {
  const std::string reply = Reply("  12", "0345");
  const std::string ft = Reply("  12", "0345", "0123456789abcdef");
  // after1T: the ECR's reads after "1T" (other lines only echoed); message: the failure shown.
  const struct { const char* name; bool network, modelFt; std::vector<std::pair<int64_t, std::string>> after1T;
    std::vector<std::string> lines = {"1T"}; int16_t payments = 1; std::string message = "";
  } cases[] = {
      {"tcp, all in one read", true, false, {{10, "1T1T" + reply}}},
      {"tcp, joined until ETX", true, false, {{10, "1T"}, {20, "ok"}, {100, "short"}, {150, "shorter"}, {200, reply}}},
      {"tcp, answer and reply in one read", true, false, {{10, "1T"}, {20, "1T" + reply.substr(0, 9)},
                                                          {60, reply.substr(9)}}},
      {"tcp, reply in place of the answer", true, false, {{10, "1T"}, {20, reply}}},
      {"serial, echo and reply in one read", false, false, {{10, "1T" + reply}}},
      {"serial, FT reply byte by byte", false, true, {{10, "1T"}}},
      // XOFF after the echo from an ECR that never sends XON: no hold.
      {"serial, XOFF never released", false, false, {{10, "1T\x13"}, {40, reply}}},
      {"serial, two payment lines", false, false, {{10, "1T"}, {100, reply}}, {"1000H1R", "5T", "1000H1R", "1T"}, 2},
      {"serial, short reply", false, false, {{10, "1T"}, {100, kStx + "05-12-2026" + kEtx}}, {"1T"}, 1,
       "Error 5 (Invalid procedure call or argument) in procedure DoSendFile of Modulo Module1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LinkRig r;
    r.UseSerial();
    if (c.network) r.UseNetwork();
    r.ctx.dump.tenderFamily = c.modelFt ? "FT" : "ST";
    r.ctx.tenderLineCount = c.payments;
    const auto respond = [&](const std::string& s) {
      if (s != "1T" && s != "\x06") r.fp.serial.QueueInput(10, s);
      if (s != "1T") return;
      for (const auto& [at, bytes] : c.after1T) {
        c.network ? r.fp.socket.Deliver(at, bytes) : r.fp.serial.QueueInput(at, bytes);
      }
      if (c.modelFt) {  // about 1 ms a byte at 9600 baud
        for (std::size_t i = 0; i < ft.size(); ++i) r.fp.serial.QueueInput(100 + int64_t(i), ft.substr(i, 1));
      }
    };
    r.fp.socket.responder = respond;
    r.fp.serial.responder = respond;
    EXPECT_EQ(SendJobLines(r.ctx, c.lines), c.message.empty());
    EXPECT_EQ(r.fp.notifier.messages, c.message.empty() ? std::vector<std::string>{} : std::vector{c.message});
    EXPECT_EQ(fakes::ReadFileBytes(r.ctx.link.outputPath), c.message.empty() ? kOutput : "");
    EXPECT_FALSE(r.ctx.link.output.IsOpen());
    EXPECT_EQ(r.ctx.tenderLineCount, 0);
    std::vector<std::string> sent = c.lines;
    sent.push_back("\x06");
    EXPECT_EQ(c.network ? r.fp.socket.sends : r.fp.serial.writes, sent);
    EXPECT_LT(r.fp.loop.NowMs(), 1000);
  }

  LinkRig r;
  r.UseNetwork();  // echo and second answer per line, no closing reply
  r.fp.socket.responder = [&r](const std::string& s) { r.fp.socket.Deliver(10, s); r.fp.socket.Deliver(20, "ok"); };
  r.ctx.tenderLineCount = 1;
  EXPECT_FALSE(SendJobLines(r.ctx, {"1T"}));
  EXPECT_EQ(r.Now(), 20 + 5 * 1500);  // five time-outs
  EXPECT_EQ(r.fp.socket.sends, std::vector<std::string>({"1T"}));
  EXPECT_EQ(fakes::ReadFileBytes(r.ctx.link.outputPath), "");
  EXPECT_TRUE(r.ctx.link.receiptMayBeClosed);
  std::function<void()> drip = [&] {
    r.fp.socket.Deliver(0, "abc");
    r.fp.loop.After(40, drip);
  };
  const int64_t start = r.Now();
  r.fp.loop.Schedule(start + 100, drip);
  r.ctx.tenderLineCount = 1;
  EXPECT_FALSE(SendJobLines(r.ctx, {"1T"}));
  EXPECT_EQ(fakes::ReadFileBytes(r.ctx.link.outputPath), "");
  EXPECT_LT(r.Now() - start, 5 * 20 * 40 + 1000);
}

}  // namespace
}  // namespace kolibra
