#include "app/job_cycle.h"

#include <cmath>

#include "app/job_files.h"
#include "app/run_job.h"
#include "app/text_util.h"
#include "outcome/dump.h"
#include "outcome/job_outcome.h"
#include "outcome/messages.h"
#include "ui/operator_events.h"

namespace kolibra {

namespace {

constexpr int32_t kDefaultIntervalMs = 1000;
constexpr int32_t kShortestIntervalMs = 100;
constexpr int32_t kLongestIntervalMs = 60000;
constexpr int16_t kTickCounterWrap = 30000;

bool SlotUsable(const AppContext& ctx, int slot) {
  return ctx.ui.slotCheck[slot - 1].value == 1 && ctx.cycle.portAvailable[slot - 1];
}

// Polls nothing while the data directory is gone; says so once.
bool DataDirPresent(AppContext& ctx) {
  const bool present = ctx.platform.fs.IsDirectory(ctx.dataDir);
  if (!present && !ctx.cycle.dataDirMissing) {
    ctx.platform.notifier.Log("Cartella dati non trovata: " + ctx.dataDir);
  } else if (present && ctx.cycle.dataDirMissing) {
    ctx.platform.notifier.Log("Cartella dati di nuovo disponibile: " + ctx.dataDir);
  }
  ctx.cycle.dataDirMissing = !present;
  return present;
}

int32_t RoundInterval(double ms) {
  if (ms >= kLongestIntervalMs) return kLongestIntervalMs;
  const auto rounded = static_cast<int32_t>(std::lround(ms));
  // A fraction of a second small enough to round below 100 ms would make the
  // timer spin; the shortest interval is 100 ms.
  return rounded < kShortestIntervalMs ? kShortestIntervalMs : rounded;
}

}  // namespace

void CreatePollingTimer(AppContext& ctx) {
  if (ctx.cycle.timer21 >= 0) return;
  ctx.cycle.timer21 = ctx.platform.loop.CreateTimer([&ctx] { Timer21_Timer(ctx); });
}

void SetPollingTimer(AppContext& ctx, int64_t intervalMs, bool enabled) {
  if (ctx.cycle.timer21 < 0) return;
  ctx.platform.loop.SetTimer(ctx.cycle.timer21, intervalMs, enabled);
}

void EnablePollingTimer(AppContext& ctx, bool enabled) {
  if (ctx.cycle.timer21 < 0) return;
  EventLoop& loop = ctx.platform.loop;
  loop.SetTimer(ctx.cycle.timer21, loop.TimerInterval(ctx.cycle.timer21), enabled);
}

bool PollingTimerEnabled(AppContext& ctx) {
  return ctx.cycle.timer21 >= 0 && ctx.platform.loop.TimerEnabled(ctx.cycle.timer21);
}

void Timer21_Timer(AppContext& ctx) {
  JobCycleState& cycle = ctx.cycle;
  if (ctx.dump.inProgress) return;
  EnablePollingTimer(ctx, false);
  if (cycle.closing) return;
  if (cycle.pauseMarker != 0) {
    cycle.pauseMarker = 0;
    SetPollingTimer(ctx, cycle.pollingIntervalMs, true);
    return;
  }
  if (ctx.ui.windowShown) {
    ctx.ui.timerState = cycle.blink ? "Timer on" : "Timer ON";
    cycle.blink = !cycle.blink;
  }
  cycle.tickCounter = cycle.tickCounter > kTickCounterWrap ? 0 : cycle.tickCounter + 1;
  ctx.ui.tickCounterText = std::to_string(cycle.tickCounter);
  JobTrigger(ctx);
}

void JobTrigger(AppContext& ctx) {
  JobCycleState& cycle = ctx.cycle;
  EnablePollingTimer(ctx, false);
  if (cycle.closing) return;
  if (!DataDirPresent(ctx)) {
    EnablePollingTimer(ctx, true);
    return;
  }

  bool found = false;
  const int16_t slot = iVerifyStartPos1(ctx);
  if (slot >= 1 && slot <= kSlotCount) {
    cycle.currentSlot = slot;
    const std::string commandPath = JobFilePath(ctx, "SR_DATI", slot);
    const std::string outputPath = JobFilePath(ctx, "SR_OUT", slot);
    if (ctx.platform.fs.Exists(commandPath)) {
      cycle.commandPath = commandPath;
      ctx.link.outputPath = outputPath;
      found = true;
    } else {
      WriteErrFile(ctx, kErrNoCommandFile, slot);
      SubKillStartFile(ctx);
    }
  }
  // A termination request that came during a dump of this scan starts nothing.
  if (!found || ctx.dump.inProgress || cycle.closing) {
    if (!cycle.closing) EnablePollingTimer(ctx, true);
    return;
  }

  cycle.jobBusy = true;
  SetTrayState(ctx, TrayIcon::kRunning, "Kolibra in esecuzione...");
  if (ctx.ui.windowShown) ShowStatus(ctx, "TRASMISSIONE KOLIBRA IN CORSO ..");
  const int16_t code = RunJob(ctx);
  ReportJobOutcome(ctx, code);
}

int16_t iVerifyStartPos1(AppContext& ctx) {
  FileSystem& fs = ctx.platform.fs;
  for (int16_t n = 1; n <= kSlotCount; ++n) {
    if (!SlotUsable(ctx, n)) continue;
    if (!fs.Exists(JobFilePath(ctx, "SR_MATR", n))) {
      StartDump(ctx, n);
      continue;
    }
    ctx.cycle.currentSlot = n;
    if (!fs.Exists(JobFilePath(ctx, "SR_START", n))) continue;
    const std::string finesco = JobFilePath(ctx, "FINESCO", n);
    if (fs.Exists(finesco) && !fs.Remove(finesco)) {
      // A stale end-of-receipt file would be read as this job's success.
      ctx.platform.notifier.Log("Impossibile cancellare " + finesco);
    }
    if (fs.Exists(JobFilePath(ctx, "SR_OUT", n))) SubKillFileOut(ctx);
    ctx.dump.pending[n - 1] = false;
    return n;
  }
  bool anyPort = false;
  for (bool available : ctx.cycle.portAvailable) anyPort = anyPort || available;
  if (!anyPort) {
    for (int n = 1; n <= kSlotCount; ++n) WriteErrFile(ctx, kErrNoPort, n);
  }
  return 0;
}

std::string TimerFileText(int32_t intervalMs) {
  if (intervalMs < 1000) return std::to_string(intervalMs);
  return FormatDecimal(intervalMs / 1000.0);
}

void CalculateTimer(AppContext& ctx, const std::string& value, bool save) {
  std::string written;
  const double v = LeadingNumber(value, &written);
  int32_t interval = kDefaultIntervalMs;
  if (value.empty() || v <= 0) {
    interval = kDefaultIntervalMs;
  } else if (v < 100) {
    ctx.ui.timerValue = v <= 60 ? value : "60";
    interval = RoundInterval(1000.0 * LeadingNumber(ctx.ui.timerValue));
  } else if (v <= kLongestIntervalMs) {
    ctx.ui.timerValue = written + "ms";
    interval = RoundInterval(v);
  } else {
    ctx.ui.timerValue = "60";
    interval = kLongestIntervalMs;
  }
  ctx.cycle.pollingIntervalMs = interval;
  if (save) {
    const std::string path = JoinPath(ctx.settingsDir, "KBTIMER1.TXT");
    if (!WriteWholeFile(path, TimerFileText(interval) + "\r\n")) {
      ctx.platform.notifier.Log("Impossibile scrivere " + path);
    }
  }
}

void cmdChgTimer_Click(AppContext& ctx) {
  if (ctx.cycle.jobBusy) {
    ShowMessage(ctx, "Connessione in corso, valore non accettato");
    return;
  }
  const double v = LeadingNumber(ctx.ui.timerValue);
  if (v == 0) ShowMessage(ctx, "Valore non ammesso");
  const bool wasEnabled = PollingTimerEnabled(ctx);
  EnablePollingTimer(ctx, false);
  CalculateTimer(ctx, FormatDecimal(v), true);
  SetPollingTimer(ctx, ctx.cycle.pollingIntervalMs, wasEnabled);
}

}  // namespace kolibra
