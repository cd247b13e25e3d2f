// The run of one job, driven through the fakes: which code comes out, what
// reaches the port, and what is left open or set afterwards.
#include "app/run_job.h"

#include <gtest/gtest.h>

#include <vector>

#include "outcome_rig.h"

namespace kolibra {
namespace {

using testing_outcome::Rig;

CivilTime At(int y, int mo, int d, int h, int mi, int s) {
  CivilTime t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  return t;
}

// Writes on the port after the reset command.
std::vector<std::string> AfterReset(const fakes::FakeSerialPort& port) {
  std::vector<std::string> out;
  bool seen = false;
  for (const auto& w : port.writes) {
    if (seen) out.push_back(w);
    if (w == " K") seen = true;
  }
  return out;
}

TEST(RunJob, EarlyReturnsLeaveNothingOpenAndSendNothing) {
  struct Case {
    const char* name;
    int16_t expected;
    bool trace;
    bool testReceipt;
  };
  const Case cases[] = {
      {"command file missing", kJobCommandFileMissing, true, true},
      {"conversion refused", kJobConversionRefused, true, false},
      {"serial set-up refused", kJobLinkSetupFailed, false, true},
      {"serial set-up refused, port left open", kJobLinkSetupFailed, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.ctx.ui.trace.value = c.trace ? 1 : 0;
    r.ctx.cycle.testReceipt = c.testReceipt ? 1 : 0;
    const std::string name = c.name;
    if (name != "command file missing") r.Put("SR_DATI", "SALE,N1,P1000;\r\n");
    if (name == "conversion refused") {
      // A credit-note reference with a one-character kind is refused in RT mode.
      r.ctx.dump.rt = true;
      r.Put("SR_DATI", "NDCR,>A;\r\n");
    }
    if (name == "serial set-up refused") r.fp.serial.failConfigure = true;
    if (name == "serial set-up refused, port left open") r.fp.serial.Open();

    EXPECT_EQ(RunJob(r.ctx), c.expected);

    EXPECT_TRUE(r.fp.serial.writes.empty());
    EXPECT_FALSE(r.fp.serial.IsOpen());
    EXPECT_EQ(r.ctx.link.trace.file, nullptr);
    EXPECT_EQ(r.ctx.cycle.testReceipt, 0);
  }
}

TEST(RunJob, UnansweredResetGivesTimeoutWithoutSendingTheJob) {
  for (bool testReceipt : {false, true}) {
    SCOPED_TRACE(testReceipt ? "test receipt" : "converted job");
    Rig r;
    r.echoUnknown = false;
    r.ctx.ui.trace.value = 1;
    r.ctx.cycle.testReceipt = testReceipt ? 1 : 0;
    r.Put("SR_DATI", testReceipt ? "1000H1R\r\n1T\r\n" : "SALE,N1,P1000;\r\n");

    EXPECT_EQ(RunJob(r.ctx), kJobNoAnswer);

    ASSERT_FALSE(r.fp.serial.writes.empty());
    for (const auto& w : r.fp.serial.writes) EXPECT_EQ(w, " K");
    EXPECT_FALSE(r.fp.serial.IsOpen());
    EXPECT_EQ(r.ctx.link.trace.file, nullptr);
    EXPECT_EQ(r.ctx.cycle.testReceipt, 0);

    // The trace file of the job ends with the time-out line.
    const std::string trace = fakes::ReadFileBytes(
        JoinPath(JoinPath(r.dir.path(), "TRACE_202403"), "TRACE_20240315_100000.TXT"));
    const auto lines = Rig::Lines(trace);
    ASSERT_FALSE(lines.empty());
    const std::string tail = " <- TIMEOUT SCADUTO";
    ASSERT_GE(lines.back().size(), tail.size());
    EXPECT_EQ(lines.back().substr(lines.back().size() - tail.size()), tail);
  }
}

TEST(RunJob, PassThroughSendsTheCommandFileLinesAsTheyAre) {
  Rig r;
  r.ctx.ui.passThrough.value = 1;
  // Mixed line ends, a byte above 0x7F, blanks kept, no end on the last line.
  r.Put("SR_DATI", "\"CAFF\xC8 \"1000H1R\r\n 1T\n\"A;B,C\"@");

  EXPECT_EQ(RunJob(r.ctx), kJobOk);

  const std::vector<std::string> expected = {"\"CAFF\xC8 \"1000H1R", " 1T", "\"A;B,C\"@"};
  EXPECT_EQ(AfterReset(r.fp.serial), expected);
  EXPECT_FALSE(r.fp.fs.Exists(JoinPath(r.dir.path(), "XON.txt")));
  EXPECT_EQ(r.ctx.link.outputPath, r.File("SR_OUT"));
  EXPECT_TRUE(r.Has("SR_OUT"));
  EXPECT_FALSE(r.fp.serial.IsOpen());
}

TEST(RunJob, ConvertedJobGoesToTheSlotPort) {
  Rig r;
  r.SetSlot(3);
  r.ctx.baudRate = 19200;
  r.Put("SR_DATI", "SALE,N1,P1000;\r\n", 3);

  EXPECT_EQ(RunJob(r.ctx), kJobOk);

  EXPECT_EQ(r.fp.serial.portNumber, 3);
  EXPECT_EQ(r.fp.serial.settings, "19200,N,8,1");
  const auto sent = AfterReset(r.fp.serial);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].substr(0, 7), "1000H1R");
  EXPECT_EQ(r.ctx.link.outputPath, r.File("SR_OUT", 3));
  EXPECT_TRUE(r.fp.fs.Exists(JoinPath(r.dir.path(), "XON.txt")));
}

TEST(RunJob, TestReceiptSendsItsLinesUnconvertedAndIsUsedUp) {
  Rig r;
  r.ctx.cycle.testReceipt = 1;
  r.Put("SR_DATI", "\"PROVA\"100H1R\r\n1T\r\n");

  EXPECT_EQ(RunJob(r.ctx), kJobOk);

  const std::vector<std::string> expected = {"\"PROVA\"100H1R", "1T"};
  EXPECT_EQ(AfterReset(r.fp.serial), expected);
  EXPECT_EQ(r.ctx.cycle.testReceipt, 0);
  EXPECT_FALSE(r.fp.fs.Exists(JoinPath(r.dir.path(), "XON.txt")));
}

TEST(RunJob, TraceFileInMonthFolderOrDataDirectory) {
  for (bool blocked : {false, true}) {
    SCOPED_TRACE(blocked ? "month folder blocked" : "month folder made");
    Rig r;
    r.fp.loop.SetLocalTime(At(2026, 12, 5, 14, 23, 1), 60);
    r.ctx.ui.trace.value = 1;
    r.ctx.ui.passThrough.value = 1;
    r.Put("SR_DATI", "1000H1R\r\n");
    const std::string folder = JoinPath(r.dir.path(), "TRACE_202612");
    // A plain file of the folder's name keeps the folder from being made.
    if (blocked) fakes::WriteFileBytes(folder, "x");

    EXPECT_EQ(RunJob(r.ctx), kJobOk);

    const std::string name = "TRACE_20261205_142301.TXT";
    const std::string where = blocked ? r.dir.path() : folder;
    const std::string trace = fakes::ReadFileBytes(JoinPath(where, name));
    EXPECT_NE(trace.find(" --> 1000H1R\r\n"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("TIMEOUT SCADUTO"), std::string::npos);
    EXPECT_EQ(r.ctx.link.trace.file, nullptr);
  }
}

TEST(RunJob, NetworkConnectionFailureIsLinkSetupFailure) {
  Rig r;
  r.ctx.ui.optionRs232 = false;
  r.ctx.ui.optionRete = true;
  r.ctx.ui.remoteIp = "192.168.1.50";
  r.fp.socket.connectOutcome = fakes::FakeTcpSocket::ConnectOutcome::kNever;
  r.Put("SR_DATI", "SALE,N1,P1000;\r\n");

  EXPECT_EQ(RunJob(r.ctx), kJobLinkSetupFailed);
  EXPECT_TRUE(r.fp.socket.sends.empty());
  EXPECT_FALSE(r.fp.serial.IsOpen());
}

TEST(RunJob, FailedSendOverNetworkWaitsTwoSecondsAndTimesOut) {
  Rig r;
  r.ctx.ui.optionRs232 = false;
  r.ctx.ui.optionRete = true;
  r.ctx.ui.remoteIp = "192.168.1.50";
  r.ctx.ui.passThrough.value = 1;
  r.ctx.ui.trace.value = 1;
  r.Put("SR_DATI", "1000H1R\r\n");
  // The reset command is echoed and acknowledged; job lines get no answer.
  r.fp.socket.responder = [&r](const std::string& bytes) {
    if (bytes == " K") {
      r.fp.socket.Deliver(10, " K");
      r.fp.socket.Deliver(20, "K");
    }
  };

  EXPECT_EQ(RunJob(r.ctx), kJobNoAnswer);

  ASSERT_FALSE(r.fp.socket.sends.empty());
  EXPECT_EQ(r.fp.socket.sends.front(), " K");
  EXPECT_EQ(r.fp.socket.sends.back(), "1000H1R");
  // Last attempt: 3000 ms without an answer and 300 ms after it, then the
  // 2000 ms wait before giving up.
  EXPECT_GE(r.fp.loop.NowMs() - r.fp.socket.sendTimes.back(), 3000 + 300 + 2000);
  EXPECT_LT(r.fp.loop.NowMs() - r.fp.socket.sendTimes.back(), 3000 + 300 + 2000 + 500);
  EXPECT_EQ(r.ctx.link.trace.file, nullptr);
}

}  // namespace
}  // namespace kolibra
