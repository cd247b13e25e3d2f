#include "core/operator_events.h"

#include "core/messages.h"
#include "core/poll_timer.h"

namespace kolibra {

void ShowStatus(AppContext& ctx, const std::string& text) {
  ctx.state.status = text;
  ctx.platform.notifier.Log("Stato: " + text);
}

void AnnounceJob(AppContext& ctx, bool running) {
  ctx.state.jobAnnounced = running;
  if (ctx.platform.tray != nullptr) {
    ctx.platform.tray->SetTrayIcon(running ? TrayIcon::kRunning : TrayIcon::kIdle,
                                   running ? kTrayRunningTip : kTrayIdleTip);
  }
}

void OperatorWatches(AppContext& ctx) {
  for (int i = 0; i < kSlotCount; ++i) {
    if (!ctx.settings.slotOn[i]) ctx.dump.pending[i] = true;
    ctx.state.dumpText[i] = ctx.dump.pending[i] ? kDumpNotDone : kDumpDone;
  }
  ctx.state.watched = true;
}

void ShowMessage(AppContext& ctx, const std::string& text) {
  ctx.platform.notifier.MessageBox(text);
}

bool SlotTakesJobs(const AppContext& ctx, int slot) {
  return slot >= 1 && slot <= kSlotCount && ctx.settings.slotOn[slot - 1] &&
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
  const bool ticked = ctx.settings.slotOn[slot - 1];
  int64_t interval = PollTimerInterval(ctx);
  if (interval <= 0) interval = ctx.cycle.pollingIntervalMs;
  ArmPollTimer(ctx, interval, ticked);
  ctx.state.settingsLocked = ticked;
  ctx.state.testReceiptReady = ticked;
}

}  // namespace kolibra
