// The operator window model: restoring and minimizing, the tray messages,
// the test receipt, and the window-shown rule for status texts.
#include "ui/operator_window.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/job_cycle.h"
#include "app/job_files.h"
#include "fakes/fake_platform.h"
#include "link/transmission.h"

namespace kolibra {
namespace {

struct UiRig {
  fakes::FakePlatform fp;
  fakes::ScratchDir data;
  AppContext ctx{fp.platform};

  UiRig() {
    ctx.dataDir = data.path();
    ctx.settingsDir = data.path();
    ctx.ui.optionRs232 = true;
    ctx.cycle.portAvailable.fill(true);
    InitLink(ctx);
    CreatePollingTimer(ctx);
    SetPollingTimer(ctx, 1000, false);  // switched off, as after the slot boxes were cleared
    fp.serial.responder = [this](const std::string& bytes) { fp.serial.QueueInput(10, bytes); };
  }
  std::string Read(const std::string& base, int slot) {
    return fakes::ReadFileBytes(JobFilePath(ctx, base, slot));
  }
  bool Has(const std::string& base, int slot) { return fp.fs.Exists(JobFilePath(ctx, base, slot)); }
};

TEST(OperatorWindow, RestoreMarksUntickedSlotsAndFillsDumpBoxes) {
  UiRig r;
  r.ctx.ui.slotCheck[0].value = 1;
  r.ctx.ui.slotCheck[1].value = 1;
  r.ctx.dump.pending = {false, true, false, false};  // slots 3 and 4 unticked
  EXPECT_EQ(TrayMouseMessage(r.ctx, 515), TrayAction::kRestore);
  EXPECT_TRUE(r.ctx.ui.windowShown);
  EXPECT_EQ(r.ctx.ui.dumpText, (std::array<std::string, 4>{"DUMP ESEGUITO", "DUMP NON ESEGUITO",
                                                           "DUMP NON ESEGUITO", "DUMP NON ESEGUITO"}));
  EXPECT_EQ(r.ctx.dump.pending, (std::array<bool, 4>{false, true, true, true}));

  MinimizeWindow(r.ctx);
  EXPECT_FALSE(r.ctx.ui.windowShown);
  EXPECT_EQ(TrayMouseMessage(r.ctx, 517), TrayAction::kPopupMenu);
  EXPECT_EQ(TrayMouseMessage(r.ctx, 512), TrayAction::kNone);
  EXPECT_FALSE(r.ctx.ui.windowShown);
}

TEST(OperatorWindow, HiddenWindowGetsNoStatusTexts) {
  UiRig r;
  r.ctx.ui.slotCheck[0].value = 1;
  fakes::WriteFileBytes(JobFilePath(r.ctx, "SR_MATR", 1), "m");
  fakes::WriteFileBytes(JobFilePath(r.ctx, "SR_DATI", 1), "SALE,N1,P1000;\r\n");
  fakes::WriteFileBytes(JobFilePath(r.ctx, "SR_START", 1), "1\r\n");
  r.ctx.ui.status = "before";
  r.ctx.ui.windowShown = true;
  MinimizeWindow(r.ctx);
  JobTrigger(r.ctx);
  EXPECT_FALSE(r.Has("SR_START", 1));
  EXPECT_EQ(r.ctx.ui.status, "before");
  EXPECT_EQ(r.ctx.ui.timerState, "");
  for (const auto& line : r.fp.notifier.logs) EXPECT_NE(line.rfind("Stato: ", 0), 0u) << line;
}

TEST(OperatorWindow, TestReceiptRefusedWritesNothingAndLeavesNoFlag) {
  for (int c = 0; c < 3; ++c) {  // no dump yet, hidden window, command file not writable
    SCOPED_TRACE(c);
    UiRig r;
    for (auto& box : r.ctx.ui.slotCheck) box.value = 1;
    RestoreWindow(r.ctx);
    if (c > 0) r.ctx.dump.pending[2] = false;
    if (c == 1) MinimizeWindow(r.ctx);
    if (c == 2) r.ctx.dataDir = JoinPath(r.data.path(), "gone");
    EXPECT_EQ(CMBFile_Click(r.ctx), 0);
    EXPECT_EQ(r.ctx.ui.ecrMessage == "DUMP NON ANCORA ESEGUITO", c == 0);
    for (int s = 1; s <= 4; ++s) EXPECT_FALSE(r.Has("SR_DATI", s));
    EXPECT_EQ(r.ctx.cycle.testReceipt, 0);
    EXPECT_TRUE(r.ctx.ui.testButtonEnabled);
  }
}

TEST(OperatorWindow, TestReceiptGoesToTheLastDumpedSlotAndRunsUnconverted) {
  UiRig r;
  for (auto& c : r.ctx.ui.slotCheck) c.value = 0;
  r.ctx.ui.slotCheck[0].value = 1;
  r.ctx.ui.slotCheck[2].value = 1;
  RestoreWindow(r.ctx);
  r.ctx.dump.pending = {false, true, false, true};
  fakes::WriteFileBytes(JobFilePath(r.ctx, "SR_MATR", 1), "m");
  fakes::WriteFileBytes(JobFilePath(r.ctx, "SR_MATR", 3), "m");
  fakes::WriteFileBytes(JobFilePath(r.ctx, "SR_DATI", 3), "older job\r\n");

  ASSERT_EQ(CMBFile_Click(r.ctx), 3);
  EXPECT_EQ(r.Read("SR_DATI", 3), "K\"PROVA\"10H1R0M\"PROVA\"10H1R=1T\r\n");
  EXPECT_TRUE(r.Has("SR_START", 3));
  EXPECT_EQ(r.ctx.cycle.testReceipt, 1);
  EXPECT_FALSE(r.ctx.ui.testButtonEnabled);

  // The next tick runs it: the line reaches the port unchanged, then the
  // outcome enables the button again and the flag is spent.
  r.fp.loop.Wait(r.fp.loop.NowMs() + 1000);
  EXPECT_FALSE(r.Has("SR_START", 3));
  EXPECT_EQ(r.fp.serial.portNumber, 3);
  const auto& w = r.fp.serial.writes;
  EXPECT_NE(std::find(w.begin(), w.end(), "K\"PROVA\"10H1R0M\"PROVA\"10H1R=1T"), w.end());
  EXPECT_TRUE(r.ctx.ui.testButtonEnabled);
  EXPECT_EQ(r.ctx.cycle.testReceipt, 0);
  EXPECT_EQ(r.ctx.ui.status, "KOLIBRA TERMINATO : TUTTO OK");
}

}  // namespace
}  // namespace kolibra
