// The test receipt from the operator window through the job cycle.
#include <gtest/gtest.h>


#include "app_rig.h"
#include "core/messages.h"
#include "ui/operator_actions.h"
#include "ui/operator_window.h"

namespace kolibra {
namespace {

const std::string kLine = "K\"PROVA\"10H1R0M\"PROVA\"10H1R=1T";
const std::string kTillJob = "SALE,N1,P1000;\r\n";

// A window shown with slots 1 and 3 dumped (slot 4 unticked): the test
// receipt goes to slot 3; the polling timer is switched off, as after the
// slot boxes were cleared.
struct TestRig : testing_app::AppRig {
  TestRig() {
    // Echoes every line; the receipt's payment line closes it with a reply.
    fp.serial.responder = [this](const std::string& bytes) {
      fp.serial.QueueInput(10, bytes);
      if (bytes.ends_with("1T")) fp.serial.QueueInput(50, "\x02" "05-12-2026 09-41ABCDEFG  12-0345ZZ\x03");
    };
    InitLink(ctx);
    InstallPollTimer(ctx);
    ArmPollTimer(ctx, 1000, false);
    ctx.settings.slotOn[3] = false;
    RestoreWindow(ctx);
    ctx.dump.pending = {false, true, false, true};
    for (int s : {1, 3}) Put("SR_MATR", "m", s);
  }
  void RunTick() { fp.loop.Wait(fp.loop.NowMs() + 1000); }
};

// Refused with no dump yet, a hidden window, an unwritable data folder, or a
// job of the calling application waiting in the slot (its start file, or a
// command file its last job did not leave): nothing written or replaced and
// no flag left. The command file a failed job left does not refuse it.
TEST(OperatorWindow, TestReceiptRefusedOrWrittenNeverReplacingAWaitingJob) {
  enum Case { kNoDump, kHidden, kNoFolder, kNone, kStartFile, kNewCommandFile, kFailedJobsCommandFile };
  const char* const kRefusals[] = {
      "DUMP NON ANCORA ESEGUITO", "Nessuna porta attiva con il dump eseguito: scontrino di prova non scritto",
      "Scontrino di prova non scritto nella cartella dati", "", kTestReceiptJobWaiting, kTestReceiptJobWaiting, ""};
  for (Case c : {kNoDump, kHidden, kNoFolder, kNone, kStartFile, kNewCommandFile, kFailedJobsCommandFile}) {
    SCOPED_TRACE(c);
    TestRig r;
    if (c == kNoDump) r.ctx.dump.pending.fill(true);
    if (c == kHidden) MinimizeWindow(r.ctx);
    if (c == kNoFolder) r.ctx.dataDir = JoinPath(r.data.path(), "gone");
    if (c > kNone) r.Put("SR_DATI", kTillJob, 3);
    if (c == kStartFile) r.Put("SR_START", "1\r\n", 3);
    if (c == kFailedJobsCommandFile) {
      r.ctx.cycle.journal.slots[2] =
          JournalEntry{JobStage::kDone, "gone", r.fp.fs.Inspect(r.File("SR_DATI", 3)).identity};
    }
    const ActionResult pressed = PressTestButton(r.ctx);
    EXPECT_EQ(pressed.accepted, !*kRefusals[c]);
    if (*kRefusals[c]) {
      EXPECT_EQ(pressed.text, kRefusals[c]);
      EXPECT_EQ(r.ctx.state.ecrMessage == "DUMP NON ANCORA ESEGUITO", c == kNoDump);
      EXPECT_EQ(r.ctx.state.ecrMessage == kTestReceiptJobWaiting, c > kNone);
      for (int s : {1, 2, 4}) EXPECT_FALSE(r.Has("SR_DATI", s) || r.Has("SR_START", s));
      EXPECT_EQ(r.Read("SR_DATI", 3), c > kNone ? kTillJob : "");
      EXPECT_EQ(r.Has("SR_START", 3), c == kStartFile);
      EXPECT_EQ(r.ctx.cycle.testFiles.slot, 0);
      EXPECT_TRUE(r.ctx.state.testReceiptReady);
      continue;
    }
    EXPECT_EQ(r.Read("SR_DATI", 3), kLine + "\r\n");
    EXPECT_TRUE(r.Has("SR_START", 3));
    EXPECT_FALSE(r.ctx.state.testReceiptReady);

    // The next tick sends it unconverted and spends the flag.
    r.RunTick();
    EXPECT_EQ(r.fp.serial.portNumber, 3);
    EXPECT_TRUE(r.Sent(kLine));
    EXPECT_TRUE(r.ctx.state.testReceiptReady);
    EXPECT_EQ(r.ctx.cycle.testReceipt, 0);
    EXPECT_EQ(r.ctx.cycle.testFiles.slot, 0);
    EXPECT_EQ(r.ctx.state.status, "KOLIBRA TERMINATO : TUTTO OK");
    EXPECT_EQ(r.Read("FINESCO", 3), "finesco");
  }
}

// The flag belongs to the files the test receipt wrote: a till job written
// over them before the tick runs converted (its records never reach the ECR
// as they stand), the test line is not sent, and the flag is spent. Written
// during the reset, when the test receipt is already under way, nothing of
// either is sent; the till's job runs next, converted.
TEST(OperatorWindow, TillJobWrittenOverTheTestReceiptRunsConverted) {
  enum When { kBothFiles, kCommandFileOnly, kDuringTheReset };
  for (When when : {kBothFiles, kCommandFileOnly, kDuringTheReset}) {
    SCOPED_TRACE(when);
    TestRig r;
    ASSERT_EQ(PrintTestReceipt(r.ctx), 3);
    const auto tillWrites = [&r, when] {
      r.Put("SR_DATI", kTillJob, 3);
      if (when != kCommandFileOnly) r.Put("SR_START", "1\r\n", 3);
    };
    if (when == kDuringTheReset) {
      r.fp.serial.responder = [&r, tillWrites, done = false](const std::string& bytes) mutable {
        if (bytes == " K" && r.ctx.cycle.jobBusy && !done) {
          done = true;
          tillWrites();
        }
        r.fp.serial.QueueInput(10, bytes);
      };
    } else {
      tillWrites();
    }
    r.RunTick();
    if (when == kDuringTheReset) {
      EXPECT_EQ(r.fp.serial.writes.back(), " K");  // the reset, nothing after it
      EXPECT_FALSE(r.Has("FINESCO", 3) || r.Has("SR_ERR", 3));
      EXPECT_EQ(r.Read("SR_DATI", 3), kTillJob);
      r.RunUntil(r.fp.loop.NowMs() + 3000);
    }
    EXPECT_FALSE(r.Sent(kLine));
    EXPECT_FALSE(r.Sent("SALE,N1,P1000;"));
    EXPECT_TRUE(r.Sent("1000H1R"));
    EXPECT_EQ(r.ctx.cycle.testFiles.slot, 0);
    EXPECT_EQ(r.ctx.state.status, "KOLIBRA TERMINATO : TUTTO OK");
    EXPECT_EQ(r.Read("FINESCO", 3), "finesco");
    EXPECT_FALSE(r.Has("SR_DATI", 3) || r.Has("SR_START", 3));
  }
}

}  // namespace
}  // namespace kolibra
