#include "app/run_job.h"

#include <gtest/gtest.h>

#include <vector>

#include "outcome_rig.h"

namespace kolibra {
namespace {

using testing_outcome::Rig;

TEST(RunJob, FailuresCloseEverythingAndUseUpTheTestReceipt) {
  const struct {
    int16_t expected;
    const char* dati;  // nullptr = no command file
    int setup;         // 0 none, 1 port refuses set-up, 2 port left open, 3 ECR silent
  } cases[] = {
      {kJobCommandFileMissing, nullptr, 0},
      {kJobConversionRefused, "NDCR,>A;\r\n", 0},  // bad reference kind in RT mode
      {kJobLinkSetupFailed, "SALE,N1,P1000;\r\n", 1},
      {kJobLinkSetupFailed, "SALE,N1,P1000;\r\n", 2},
      {kJobNoAnswer, "SALE,N1,P1000;\r\n", 3},
  };
  for (const auto& c : cases) {
    for (int16_t testReceipt : {0, 1}) {
      SCOPED_TRACE(std::to_string(c.expected) + " setup " + std::to_string(c.setup));
      if (testReceipt && c.expected == kJobConversionRefused) continue;
      Rig r;
      r.ctx.dump.rt = true;
      r.ctx.ui.trace.value = 1;
      r.ctx.cycle.testReceipt = testReceipt;
      if (c.dati) r.Put("SR_DATI", c.dati);
      r.fp.serial.failConfigure = c.setup == 1;
      if (c.setup == 2) r.fp.serial.Open();
      r.echoUnknown = c.setup != 3;

      EXPECT_EQ(RunJob(r.ctx), c.expected);

      for (const auto& w : r.fp.serial.writes) EXPECT_EQ(w, " K");  // job lines never sent
      EXPECT_FALSE(r.fp.serial.IsOpen());
      EXPECT_EQ(r.ctx.link.trace.file, nullptr);
      EXPECT_EQ(r.ctx.cycle.testReceipt, 0);
      const std::string trace = r.DataFile("TRACE_202403/TRACE_20240315_100000.TXT");
      const std::string tail = c.expected == kJobNoAnswer ? " <- TIMEOUT SCADUTO\r\n" : "";
      EXPECT_EQ(trace.substr(trace.size() - tail.size()), tail);
    }
  }
}

TEST(RunJob, SendsLinesUnchangedAndTracesInMonthFolderElseDataDirectory) {
  // Mixed line ends, a byte above 0x7F, blanks kept, no end on the last line.
  const std::string dati = "\"CAFF\xC8 \"1000H1R\r\n 1T\n\"A;B,C\"@";
  const std::vector<std::string> lines = {" K", "\"CAFF\xC8 \"1000H1R", " 1T", "\"A;B,C\"@"};
  for (bool testReceipt : {false, true}) {  // pass-through box, or the test receipt
    SCOPED_TRACE(testReceipt);
    Rig r;
    r.SetSlot(3);
    r.fp.loop.SetLocalTime({2026, 12, 5, 14, 23, 1, 0}, 60);
    r.ctx.ui.trace.value = 1;
    r.ctx.ui.passThrough.value = testReceipt ? 0 : 1;
    r.ctx.cycle.testReceipt = testReceipt ? 1 : 0;
    r.Put("SR_DATI", dati, 3);
    const bool blocked = testReceipt;
    if (blocked) fakes::WriteFileBytes(r.dir.File("TRACE_202612"), "a file, not a folder");

    EXPECT_EQ(RunJob(r.ctx), kJobOk);
    EXPECT_EQ(r.fp.serial.writes, lines);
    EXPECT_EQ(r.fp.serial.portNumber, 3);
    EXPECT_FALSE(r.fp.fs.Exists(r.dir.File("XON.txt")));
    EXPECT_TRUE(r.Has("SR_OUT", 3));
    EXPECT_EQ(r.ctx.cycle.testReceipt, 0);
    const std::string trace =
        r.DataFile(std::string(blocked ? "" : "TRACE_202612/") + "TRACE_20261205_142301.TXT");
    EXPECT_NE(trace.find(" --> \"A;B,C\"@"), std::string::npos) << trace;
    EXPECT_EQ(r.ctx.link.trace.file, nullptr);
  }
}

TEST(RunJob, Network) {
  Rig r;
  r.ctx.ui.optionRs232 = false;
  r.ctx.ui.optionRete = true;
  r.ctx.ui.remoteIp = "192.168.1.50";
  r.ctx.ui.passThrough.value = 1;
  r.Put("SR_DATI", "1000H1R\r\n");
  r.fp.socket.connectOutcome = fakes::FakeTcpSocket::ConnectOutcome::kNever;
  EXPECT_EQ(RunJob(r.ctx), kJobLinkSetupFailed);
  EXPECT_TRUE(r.fp.socket.sends.empty());

  // Reset acknowledged, job line unanswered: 3000 + 300 ms on the last
  // attempt, then the 2000 ms wait before giving up.
  r.fp.socket.connectOutcome = fakes::FakeTcpSocket::ConnectOutcome::kConnect;
  r.fp.socket.responder = [&r](const std::string& bytes) {
    if (bytes == " K") r.fp.socket.Deliver(10, " K"), r.fp.socket.Deliver(20, "K");
  };
  EXPECT_EQ(RunJob(r.ctx), kJobNoAnswer);
  EXPECT_EQ(r.fp.socket.sends.back(), "1000H1R");
  const int64_t after = r.fp.loop.NowMs() - r.fp.socket.sendTimes.back();
  EXPECT_GE(after, 5300);
  EXPECT_LT(after, 5800);
}

}  // namespace
}  // namespace kolibra
