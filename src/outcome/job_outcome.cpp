#include "outcome/job_outcome.h"

#include "core/job_files.h"
#include "core/job_journal.h"
#include "core/messages.h"
#include "core/operator_events.h"
#include "core/poll_timer.h"

namespace kolibra {

std::string OutcomeStatusText(JobResult code) {
  switch (code) {
    case JobResult::kOk: return "TUTTO OK";
    case JobResult::kNoAnswer: return "TIMEOUT SCADUTO";
    case JobResult::kConversionRefused: return "ERRORE DI CONVERSIONE FILE DI INPUT";
    case JobResult::kOutcomeUncertain: return "ESITO INCERTO";
    default: return "";
  }
}

std::string OutcomeErrorText(JobResult code) {
  switch (code) {
    case JobResult::kNoAnswer: return kErrNoAnswer;
    case JobResult::kConversionRefused: return kErrConversion;
    // The operator checks the ECR before the job is sent again.
    case JobResult::kOutcomeUncertain: return kErrUncertain;
    // A job that never reached the ECR is not printed: it must not end with
    // FINESCO.
    case JobResult::kLinkSetupFailed: return kErrLinkSetup;
    case JobResult::kCommandFileMissing: return kErrNoCommandFile;
    default: return "";
  }
}

void ReportJobOutcome(AppContext& ctx, JobResult code) {
  const bool busy = ctx.cycle.jobBusy;

  if (ctx.ui.windowShown && busy) {
    ShowStatus(ctx, kStatusFinishedPrefix + OutcomeStatusText(code));
    if (code == JobResult::kOk) ctx.ui.ecrMessage.clear();
  }

  if (busy) {
    if (code == JobResult::kOk) {
      // With no error file left, deleting the start file writes FINESCO.
      DeleteErrorFile(ctx);
      DeleteCommandFile(ctx);
      DeleteStartFile(ctx);
    } else {
      // The command file stays for the calling application to inspect.
      const std::string text = OutcomeErrorText(code);
      if (!text.empty()) WriteErrorFile(ctx, text, ctx.cycle.currentSlot);
      DeleteStartFile(ctx);
    }
    // Recorded whether or not the start file went: the job never runs again.
    RecordJobStage(ctx, ctx.cycle.currentSlot, JobStage::kDone, ctx.cycle.startIdentity);
    ctx.cycle.lastJob = LastJob{true, ctx.cycle.currentSlot, code, ctx.platform.loop.LocalTime()};
    ctx.cycle.jobBusy = false;
  }

  // One pause tick of 1000 ms; the tick after it restores the polling interval.
  ctx.cycle.pauseMarker = PauseMarker::kAfterJob;
  ArmPollTimer(ctx, 1000, true);

  ctx.ui.testButtonEnabled = true;
  SetTrayState(ctx, TrayIcon::kIdle, kTrayIdleTip);
}

}  // namespace kolibra
