// The test receipt from the operator window through the job cycle.
#include <gtest/gtest.h>

#include <algorithm>

#include "app_rig.h"
#include "ui/operator_window.h"

namespace kolibra {
namespace {

// Refused with no dump yet, a hidden window, or an unwritable command file:
// nothing written and no flag left; otherwise the last dumped ticked slot
// gets it, and the next tick sends it unconverted and spends the flag.
TEST(OperatorWindow, TestReceipt) {
  for (int c = 0; c < 4; ++c) {
    SCOPED_TRACE(c);
    testing_app::AppRig r;
    // Echoes every line; the receipt's payment line closes it with a reply.
    r.fp.serial.responder = [&r](const std::string& bytes) {
      r.fp.serial.QueueInput(10, bytes);
      if (bytes.ends_with("1T")) r.fp.serial.QueueInput(50, "\x02" "05-12-2026 09-41ABCDEFG  12-0345ZZ\x03");
    };
    InitLink(r.ctx);
    InstallPollTimer(r.ctx);
    ArmPollTimer(r.ctx, 1000, false);  // switched off, as after the slot boxes were cleared
    r.ctx.ui.slotCheck[3].value = 0;
    RestoreWindow(r.ctx);
    if (c > 0) r.ctx.dump.pending = {false, true, false, true};
    if (c == 1) MinimizeWindow(r.ctx);
    if (c == 2) r.ctx.dataDir = JoinPath(r.data.path(), "gone");
    if (c < 3) {
      EXPECT_EQ(PrintTestReceipt(r.ctx), 0);
      EXPECT_EQ(r.ctx.ui.ecrMessage == "DUMP NON ANCORA ESEGUITO", c == 0);
      for (int s = 1; s <= 4; ++s) EXPECT_FALSE(r.Has("SR_DATI", s));
      EXPECT_EQ(r.ctx.cycle.testReceipt, 0);
      EXPECT_TRUE(r.ctx.ui.testButtonEnabled);
      continue;
    }
    for (int s : {1, 3}) r.Put("SR_MATR", "m", s);
    r.Put("SR_DATI", "older job\r\n", 3);
    ASSERT_EQ(PrintTestReceipt(r.ctx), 3);
    const std::string line = "K\"PROVA\"10H1R0M\"PROVA\"10H1R=1T";
    EXPECT_EQ(r.Read("SR_DATI", 3), line + "\r\n");
    EXPECT_TRUE(r.Has("SR_START", 3));
    EXPECT_EQ(r.ctx.cycle.testReceipt, 1);
    EXPECT_FALSE(r.ctx.ui.testButtonEnabled);

    r.fp.loop.Wait(r.fp.loop.NowMs() + 1000);
    EXPECT_EQ(r.fp.serial.portNumber, 3);
    const auto& w = r.fp.serial.writes;
    EXPECT_NE(std::find(w.begin(), w.end(), line), w.end());
    EXPECT_TRUE(r.ctx.ui.testButtonEnabled);
    EXPECT_EQ(r.ctx.cycle.testReceipt, 0);
    EXPECT_EQ(r.ctx.ui.status, "KOLIBRA TERMINATO : TUTTO OK");
  }
}

}  // namespace
}  // namespace kolibra
