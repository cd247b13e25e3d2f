#include "core/operator_events.h"

#include "core/poll_timer.h"

namespace kolibra {

void ShowStatus(AppContext& ctx, const std::string& text) {
  ctx.ui.status = text;
  ctx.platform.notifier.Log("Stato: " + text);
}

void SetTrayState(AppContext& ctx, TrayIcon icon, const std::string& tip) {
  ctx.ui.trayIcon = icon == TrayIcon::kRunning ? 1 : 0;
  if (ctx.ui.trayTip != tip) ctx.platform.notifier.Log("Icona: " + tip);
  ctx.ui.trayTip = tip;
  ctx.platform.notifier.SetTrayState(icon, tip);
}

void ShowMessage(AppContext& ctx, const std::string& text) {
  ctx.platform.notifier.MessageBox(text);
}

void SlotBoxClicked(AppContext& ctx, int slot) {
  if (slot < 1 || slot > kSlotCount) return;
  const bool ticked = ctx.ui.slotCheck[slot - 1].value == 1;
  int64_t interval = PollTimerInterval(ctx);
  if (interval <= 0) interval = ctx.cycle.pollingIntervalMs;
  ArmPollTimer(ctx, interval, ticked);
  ctx.ui.frame3Enabled = !ticked;
  ctx.ui.frame4Enabled = !ticked;
  ctx.ui.testButtonEnabled = ticked;
}

}  // namespace kolibra
