#include "core/operator_events.h"

#include "core/poll_timer.h"

namespace kolibra {

void ShowStatus(AppContext& ctx, const std::string& text) {
  ctx.ui.status = text;
  ctx.platform.notifier.Log("Stato: " + text);
}

void SetTrayState(AppContext& ctx, TrayIcon icon, const std::string& tip) {
  ctx.ui.trayIcon = icon;
  ctx.ui.trayTip = tip;
  if (ctx.platform.tray != nullptr) ctx.platform.tray->SetTrayIcon(icon, tip);
}

void ShowMessage(AppContext& ctx, const std::string& text) {
  ctx.platform.notifier.MessageBox(text);
}

bool SlotTakesJobs(const AppContext& ctx, int slot) {
  return slot >= 1 && slot <= kSlotCount && ctx.ui.slotCheck[slot - 1].value == 1 &&
         ctx.cycle.portAvailable[slot - 1];
}

void LogSlotsTakingJobs(AppContext& ctx, const std::string& why) {
  std::string slots;
  for (int n = 1; n <= kSlotCount; ++n) {
    if (SlotTakesJobs(ctx, n)) slots += (slots.empty() ? "" : ", ") + std::to_string(n);
  }
  if (slots.empty()) {
    ctx.platform.notifier.Log("Attenzione: nessuna porta accetta lavori");
  } else {
    ctx.platform.notifier.Log("Porte che accettano lavori: " + slots + why);
  }
}

void SlotBoxClicked(AppContext& ctx, int slot) {
  if (slot < 1 || slot > kSlotCount) return;
  const bool ticked = ctx.ui.slotCheck[slot - 1].value == 1;
  int64_t interval = PollTimerInterval(ctx);
  if (interval <= 0) interval = ctx.cycle.pollingIntervalMs;
  ArmPollTimer(ctx, interval, ticked);
  ctx.ui.settingsFrameEnabled = !ticked;
  ctx.ui.messagesFrameEnabled = !ticked;
  ctx.ui.testButtonEnabled = ticked;
}

}  // namespace kolibra
