#include "core/operator_events.h"

#include "core/messages.h"

namespace kolibra {

void ShowStatus(AppContext& ctx, const std::string& text) {
  ctx.state.status = text;
  ctx.platform.notifier.Log("Stato: " + text);
}

void OperatorWatches(AppContext& ctx) {
  for (int i = 0; i < kSlotCount; ++i) {
    if (!ctx.settings.slotOn[i]) ctx.dump.pending[i] = true;
    ctx.state.dumpText[i] = ctx.dump.pending[i] ? kDumpNotDone : kDumpDone;
  }
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

void TellIntervalChosen(AppContext& ctx, int32_t intervalMs) {
  if (ctx.cycleEvents) ctx.cycleEvents->IntervalChosen(intervalMs);
}

void TellSlotSwitched(AppContext& ctx, bool ticked) {
  if (ctx.cycleEvents) ctx.cycleEvents->SlotSwitched(ticked);
}

void TellTestReceiptWritten(AppContext& ctx, const TestReceiptFiles& files) {
  if (ctx.cycleEvents) ctx.cycleEvents->TestReceiptWritten(files);
}

}  // namespace kolibra
