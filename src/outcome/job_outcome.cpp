#include "outcome/job_outcome.h"

#include "app/job_files.h"
#include "app/run_job.h"
#include "outcome/messages.h"
#include "ui/operator_events.h"

namespace kolibra {

std::string OutcomeStatusText(int16_t code) {
  switch (code) {
    case kJobOk: return "TUTTO OK";
    case kJobNoAnswer: return "TIMEOUT SCADUTO";
    case kJobConversionRefused: return "ERRORE DI CONVERSIONE FILE DI INPUT";
    default: return "";
  }
}

std::string OutcomeErrorText(int16_t code) {
  switch (code) {
    case kJobNoAnswer: return kErrNoAnswer;
    case kJobConversionRefused: return kErrConversion;
    default: return "";
  }
}

std::string DumpErrorText(int16_t result) {
  return result == 0 ? std::string() : std::string(kErrDumpGeneric);
}

std::string DumpFailedText(int16_t result) {
  return std::string(kDumpNotDone) + " : " + std::to_string(result);
}

void ReportJobOutcome(AppContext& ctx, int16_t code) {
  const bool busy = ctx.cycle.jobBusy;

  if (ctx.ui.windowShown && busy) {
    ShowStatus(ctx, kStatusFinishedPrefix + OutcomeStatusText(code));
    if (code == kJobOk) ctx.ui.ecrMessage.clear();
  }

  if (busy) {
    if (code == kJobOk) {
      // With no error file left, deleting the start file writes FINESCO.
      SubKillErrFile(ctx);
      SubKillDatiFile(ctx);
      SubKillStartFile(ctx);
    } else {
      // The command file stays for the calling application to inspect.
      const std::string text = OutcomeErrorText(code);
      if (!text.empty()) WriteErrFile(ctx, text, ctx.cycle.currentSlot);
      SubKillStartFile(ctx);
    }
    ctx.cycle.jobBusy = false;
  }

  // One pause tick of 1000 ms; the tick after it restores the polling interval.
  ctx.cycle.pauseMarker = 2;
  if (ctx.cycle.timer21 >= 0) ctx.platform.loop.SetTimer(ctx.cycle.timer21, 1000, true);

  ctx.ui.testButtonEnabled = true;
  SetTrayState(ctx, TrayIcon::kIdle, kTrayIdleTip);
}

}  // namespace kolibra
