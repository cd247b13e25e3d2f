// One job on the link: failures and what they close, uncertain outcomes, lines sent as written.
#include "app/run_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <vector>

#include "outcome/outcome_rig.h"

namespace kolibra {
namespace {

using testing_outcome::Rig;

// Every failure closes the port, the trace and the output file and uses up the test receipt. Anything
// thrown inside a step ends the job at its one boundary: logged with the step, reported as unanswered.
TEST(RunJob, FailuresCloseEverythingAndUseUpTheTestReceipt) {
  // Set-up: 1 the port refuses it, 2 the port left open, 3 a silent ECR, 4/5 a throw at the reset/first line,
  // 6 the port does not open (logged with the system's reason; the writes fail).
  const struct { JobResult expected; const char* dati; int setup; } cases[] = {
      {JobResult::kCommandFileMissing, nullptr, 0}, {JobResult::kConversionRefused, "NDCR,>A;\r\n", 0},  // bad kind in RT mode
      {JobResult::kLinkSetupFailed, "SALE,N1,P1000;\r\n", 1}, {JobResult::kLinkSetupFailed, "SALE,N1,P1000;\r\n", 2},
      {JobResult::kNoAnswer, "SALE,N1,P1000;\r\n", 3}, {JobResult::kNoAnswer, "SALE,N1,P1000;\r\n", 4},
      {JobResult::kNoAnswer, "SALE,N1,P1000;\r\n", 5}, {JobResult::kNoAnswer, "SALE,N1,P1000;\r\n", 6},
  };
  for (const auto& c : cases) {
    for (int16_t testReceipt : {0, 1}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(c.expected)) + " setup " + std::to_string(c.setup));
      if (testReceipt && c.expected == JobResult::kConversionRefused) continue;
      Rig r;
      r.ctx.dump.rt = true;
      r.ctx.settings.trace = true;
      r.ctx.job.testReceipt = testReceipt;
      if (c.dati) r.Put("SR_DATI", c.dati);
      r.fp.serial.failConfigure = c.setup == 1;
      if (c.setup == 2) r.fp.serial.Open();
      if (c.setup == 6) r.fp.serial.openFailure = Status::Failed("No such file or directory");
      r.echoUnknown = c.setup != 3;
      const char* step = c.setup == 4 ? "azzeramento" : c.setup == 5 ? "invio" : nullptr;
      // The first job line: the test receipt sends its command file unconverted.
      const std::string thrower = c.setup != 5 ? " K" : testReceipt ? "SALE,N1,P1000;" : "1000H1R";
      const auto ecr = r.fp.serial.responder;
      r.fp.serial.responder = [&](const std::string& b) {
        if (step && b == thrower) throw std::runtime_error("boom");
        ecr(b);
      };
      EXPECT_EQ(RunJob(r.ctx), c.expected);
      for (const auto& w : r.fp.serial.writes) EXPECT_TRUE(w == " K" || w == thrower) << w;  // job lines never sent
      EXPECT_FALSE(r.fp.serial.IsOpen() || r.ctx.link.trace.IsOpen() || r.ctx.link.output.IsOpen());
      EXPECT_EQ(r.ctx.job.testReceipt, 0);
      const std::string trace = r.DataFile("TRACE_202403/TRACE_20240315_100000.TXT");
      EXPECT_EQ(trace.ends_with(" <- TIMEOUT SCADUTO\r\n"), c.setup == 3 || c.setup == 6);
      EXPECT_EQ(std::ranges::count(r.fp.notifier.logs, "Porta COM1 non aperta: No such file or directory"),
                c.setup == 6 ? 1 : 0);
      if (step) {
        EXPECT_EQ(r.fp.notifier.logs, std::vector<std::string>{std::string("Lavoro interrotto durante ") + step + ": boom"});
        EXPECT_TRUE(r.fp.notifier.messages.empty());
      }
    }
  }
}

// The ECR closes the receipt on whichever payment line covers the total: once any may have reached it,
// a failure is uncertain, and the journal says so before that line's first byte. Before, silence is no answer.
TEST(RunJob, FailureOnceAPaymentLineMayHaveReachedTheEcrIsUncertain) {
  const std::string reply = "\x02" "05-12-2026 09-41ABCDEFG  12-0345ZZ\x03";
  const struct { const char* name; std::map<std::string, std::string> answers; JobResult expected; } cases[] = {
      {"closing reply comes", {{"1T", "1T" + reply}}, JobResult::kOk},
      {"no closing reply", {}, JobResult::kOutcomeUncertain},
      {"malformed reply", {{"1T", "1T\x02" "05\x03"}}, JobResult::kOutcomeUncertain},
      {"last payment line unanswered", {{"1T", ""}}, JobResult::kOutcomeUncertain},
      {"first payment line unanswered", {{"1000H1T", ""}}, JobResult::kOutcomeUncertain},
      {"sale line unanswered", {{"1000H1R", ""}}, JobResult::kNoAnswer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.ctx.settings.trace = true;
    r.ctx.settings.passThrough = true;
    r.ctx.tenderLineCount = 2;
    r.ctx.job.startIdentity = "start-1";
    r.answers = c.answers;
    std::string journalAtFirstPayment = "not written";
    const auto ecr = r.fp.serial.responder;
    r.fp.serial.responder = [&](const std::string& b) {
      if (b == "1000H1T") journalAtFirstPayment = r.DataFile("KBJOURNAL.TXT");
      ecr(b);
    };
    r.Put("SR_DATI", "1000H1R\r\n1000H1T\r\n1T\r\n");
    EXPECT_EQ(RunJob(r.ctx), c.expected);
    const std::string trace = r.DataFile("TRACE_202403/TRACE_20240315_100000.TXT");
    const char* end = c.expected == JobResult::kOutcomeUncertain ? " <- ESITO INCERTO\r\n"
                      : c.expected == JobResult::kNoAnswer        ? " <- TIMEOUT SCADUTO\r\n"
                                                                    : "";
    EXPECT_TRUE(trace.ends_with(end)) << trace;
    const bool tenderSent = c.answers.count("1000H1R") == 0;
    const std::string journal = tenderSent ? "1,tender-sent,start-1\r\n" : "";
    EXPECT_EQ(r.DataFile("KBJOURNAL.TXT"), journal);
    EXPECT_EQ(journalAtFirstPayment, tenderSent ? journal : "not written");
  }
}

// The trace goes to the month folder, or to the data directory when a file blocks that folder. In
// network mode the serial port is never touched.
TEST(RunJob, SendsLinesUnchangedAndTracesInMonthFolderElseDataDirectory) {
  // Mixed line ends, bytes above 0x7F (UTF-8, yet ECR lines: sent as they are), blanks kept, no last end.
  const std::string dati = "\"CAFF\xC3\x88 \"1000H1R\r\n 1T\n\"A;B,C\"@";
  const std::vector<std::string> lines = {" K", "\"CAFF\xC3\x88 \"1000H1R", " 1T", "\"A;B,C\"@"};
  for (bool testReceipt : {false, true}) {
    SCOPED_TRACE(testReceipt);
    Rig r;
    r.SetSlot(3);
    r.fp.loop.SetLocalTime({2026, 12, 5, 14, 23, 1, 0}, 60);
    r.ctx.settings.trace = true;
    r.ctx.settings.passThrough = !testReceipt;
    r.ctx.job.testReceipt = testReceipt ? 1 : 0;
    r.Put("SR_DATI", dati, 3);
    if (testReceipt) {
      fakes::WriteFileBytes(r.data.File("TRACE_202612"), "a file, not a folder");
      r.ctx.settings.linkMode = LinkMode::kNetwork;
      r.ctx.settings.address = "127.0.0.1";
      r.fp.socket.responder = [&r](const std::string& b) {
        r.fp.socket.Deliver(10, b);  // the echo, then the second answer
        r.fp.socket.Deliver(40, b);
      };
    }
    EXPECT_EQ(RunJob(r.ctx), JobResult::kOk);
    EXPECT_EQ(testReceipt ? r.fp.socket.sends : r.fp.serial.writes, lines);
    EXPECT_EQ(r.fp.serial.openCalls, testReceipt ? 0 : 1);
    EXPECT_EQ(r.fp.serial.portNumber, testReceipt ? 0 : 3);
    EXPECT_TRUE(r.Has("SR_OUT", 3) && !r.fp.fs.Exists(r.data.File("XON.txt")));
    EXPECT_EQ(r.ctx.job.testReceipt, 0);
    const std::string trace = r.DataFile(std::string(testReceipt ? "" : "TRACE_202612/") + "TRACE_20261205_142301.TXT");
    EXPECT_NE(trace.find(" --> \"A;B,C\"@"), std::string::npos) << trace;
    EXPECT_FALSE(r.ctx.link.trace.IsOpen());
  }
}

}  // namespace
}  // namespace kolibra
