// The operator window model: restoring and minimizing, and the tray messages.
#include "ui/operator_window.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace kolibra {
namespace {

TEST(OperatorWindow, RestoreMarksUntickedSlotsAndFillsDumpBoxes) {
  struct {
    fakes::FakePlatform fp;
    AppContext ctx{fp.platform};
  } r;
  r.ctx.ui.slotCheck[0].value = r.ctx.ui.slotCheck[1].value = 1;
  r.ctx.dump.pending = {false, true, false, false};  // slots 3 and 4 unticked
  EXPECT_EQ(TrayMouseMessage(r.ctx, 515), TrayAction::kRestore);
  EXPECT_TRUE(r.ctx.ui.windowShown);
  EXPECT_EQ(r.ctx.ui.dumpText, (std::array<std::string, 4>{"DUMP ESEGUITO", "DUMP NON ESEGUITO",
                                                           "DUMP NON ESEGUITO", "DUMP NON ESEGUITO"}));
  EXPECT_EQ(r.ctx.dump.pending, (std::array<bool, 4>{false, true, true, true}));

  MinimizeWindow(r.ctx);
  EXPECT_EQ(TrayMouseMessage(r.ctx, 517), TrayAction::kPopupMenu);
  EXPECT_FALSE(r.ctx.ui.windowShown);
}

}  // namespace
}  // namespace kolibra
