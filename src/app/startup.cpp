#include "app/startup.h"

#include "app/control_server.h"
#include "app/data_dir.h"
#include "app/job_cycle.h"
#include "app/package_folders.h"
#include "app/settings.h"
#include "core/job_files.h"
#include "core/job_journal.h"
#include "core/messages.h"
#include "core/operator_events.h"
#include "core/poll_timer.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "link/transmission.h"
#include "outcome/job_outcome.h"
#include "ui/operator_window.h"

namespace kolibra {

namespace {

constexpr int kEcrTcpPort = 8000;
constexpr int64_t kMainLoopIdleMs = 3'600'000;

// Lets events run for ms milliseconds.
void WaitWithEvents(AppContext& ctx, int64_t ms) {
  EventLoop& loop = ctx.platform.loop;
  const int64_t deadline = loop.NowMs() + ms;
  while (loop.NowMs() < deadline) loop.Wait(deadline);
}

void ResetStartupValues(AppContext& ctx) {
  ctx.job.resetCommand = " K";
  ctx.link.trace.Close();
  ResetJobCycle(ctx);
  ctx.dump.inProgress = false;
  MinimizeWindow(ctx);
  ctx.job.testReceipt = 0;
  ctx.dump.pending.fill(true);
}

bool UseGivenDataDirectory(AppContext& ctx, const std::string& dir) {
  ctx.dataDir = DropTrailingSeparator(dir);
  if (!ctx.platform.fs.IsDirectory(ctx.dataDir)) {
    ShowMessage(ctx, ctx.dataDir + kDirMissingSuffix);
    return false;
  }
  ctx.defaultDataDir = ctx.dataDir;
  return true;
}

void ProbePorts(AppContext& ctx) {
  for (int16_t n = 1; n <= kSlotCount; ++n) {
    const Status prepared = ctx.settings.linkMode != LinkMode::kSerial ? Status::Ok() : PrepareLink(ctx, n);
    SetPortAvailable(ctx, n, prepared.ok());
    if (!prepared.ok()) {
      ctx.settings.slotOn[n - 1] = false;
      ctx.state.slotLocked[n - 1] = true;
      ctx.platform.notifier.Log(prepared.Explain(kPortPrefix + std::to_string(n) + kPortUnavailable));
    }
  }
}

// Answers the job waiting on a slot that will not run it. At start-up a slot
// whose last job the journal saw start and not end gets E520 (it may have
// printed) whatever its start file now is: the calling application may have
// rewritten it, or withdrawn the job and written another; so does every slot
// when the journal is lost or unreadable. Any other job gets E521. A start
// file whose job already ended only goes; one written again after a printed or
// uncertain job gets that job's outcome again; and nothing goes of a job whose
// outcome is still kept for the data folder to come back. Result files of ended jobs stay for the
// calling application; the serial-number file goes, so that the ECR is read
// again.
void AnswerWaitingJobs(AppContext& ctx, bool startingUp) {
  for (int n = 1; n <= kSlotCount; ++n) {
    if (!ctx.cycle.portAvailable[n - 1]) continue;
    if (ctx.cycle.jobBusy && ctx.job.currentSlot == n) continue;  // its own end answers it
    if (ctx.outcome.pending.any && ctx.outcome.pending.slot == n) continue;
    // An answer already kept for the slot's start file is the one it gets.
    if (AnswerStillPending(ctx, n)) continue;
    DeleteIfPresent(ctx, JobFileName("SR_MATR", n));
    const FileInfo start = ctx.platform.fs.Inspect(JobFilePath(ctx, "SR_START", n));
    if (start.kind == FileKind::kMissing) continue;
    if (StartFileAnswered(ctx, n, start)) {
      DeleteIfPresent(ctx, JobFileName("SR_START", n));
      continue;
    }
    const auto& entry = ctx.journal.slots[n - 1];
    const JobJournal& journal = ctx.journal;
    const bool interrupted = startingUp && (journal.unreadable || journal.missing ||
                                            (entry && entry->stage != JobStage::kDone));
    if (!interrupted && AnswerStartFileOfEndedJob(ctx, n, start)) continue;
    ctx.platform.notifier.Log(std::string(interrupted ? "Lavoro interrotto" : "Lavoro non eseguito") +
                              " sulla porta " + std::to_string(n));
    AnswerJobWithError(ctx, n, interrupted ? kErrUncertain : kErrNotRun);
  }
}

void ClearStaleJobFiles(AppContext& ctx) {
  // Temporary files an earlier run left (killed while writing): the fresh
  // names of this driver's own, nothing else.
  ClearTemporaryLeftovers(ctx, ctx.dataDir);
  if (ctx.settingsDir != ctx.dataDir) ClearTemporaryLeftovers(ctx, ctx.settingsDir);
  AnswerWaitingJobs(ctx, true);
  // Written at every start-up, so that a journal missing at the next one
  // means one that was lost, not one that was never needed.
  WriteJournal(ctx);
  for (int n = 1; n <= kSlotCount; ++n) {
    if (ctx.cycle.portAvailable[n - 1]) ctx.state.port[n - 1] = PortState::kAvailable;
  }
}

// Why a lock was refused: another copy (of this session or another one), a
// lock file that is not shared with another user, nor used when it is no
// plain file, or a folder this user may not write.
void LogLockRefusal(AppContext& ctx, const std::string& anotherCopy, const std::string& lockFile) {
  switch (ctx.platform.system.LastLockRefusal()) {
    case LockRefusal::kOtherUser: ctx.platform.notifier.Log(kLockOfOtherUser + lockFile); break;
    case LockRefusal::kUnavailable: ctx.platform.notifier.Log(kLockUnusable + lockFile); break;
    case LockRefusal::kOtherSession: ctx.platform.notifier.Log(kLockOtherSession + lockFile); break;
    case LockRefusal::kNotWritable: ctx.platform.notifier.Log(kLockFolderNotWritable + lockFile); break;
    default: ctx.platform.notifier.Log(anotherCopy); break;
  }
}

void StartNetworkConnection(AppContext& ctx) {
  if (ctx.settings.linkMode != LinkMode::kNetwork || ctx.settings.address.empty()) return;
  if (!IsValidIpAddress(ctx.settings.address)) return;
  TcpSocket& socket = ctx.platform.socket;
  socket.SetRemoteHost(ctx.settings.address);
  socket.SetRemotePort(ctx.link.remotePort);
  socket.Connect();
}

}  // namespace

StartResult StartDriver(AppContext& ctx, const DriverOptions& options) {
  SetPollingInterval(ctx, 1000);
  if (!ConverterSelfTest(ctx)) return StartResult::kFailed;
  ctx.link.trace.Close();

  const std::string settingsDir = ctx.settingsDir;
  if (options.dataDir.empty()) {
    if (!SelectDataDirectory(ctx)) return StartResult::kFailed;
  } else if (!UseGivenDataDirectory(ctx, options.dataDir)) {
    return StartResult::kFailed;
  }
  // One driver per data folder: a second one would take the same jobs.
  if (!ctx.platform.system.AcquireDataFolderLock(ctx.dataDir)) {
    LogLockRefusal(ctx, "Cartella dati gia' in uso da un'altra copia di Kolibra: " + ctx.dataDir,
                   JoinPath(ctx.dataDir, "kolibra-data.lock"));
    return StartResult::kAnotherCopy;
  }
  if (!settingsDir.empty()) ctx.settingsDir = settingsDir;
  if (ctx.settingsDir.empty()) ctx.settingsDir = DefaultSettingsFolder(ctx.platform.system);
  LoadJournal(ctx);
  if (options.ecrPort > 0) ctx.link.remotePort = options.ecrPort;
  if (ctx.link.remotePort <= 0) ctx.link.remotePort = kEcrTcpPort;

  ResetStartupValues(ctx);
  ReadSlotSettings(ctx);
  ReadTimerSettings(ctx);
  ReadBaudSettings(ctx);
  // Without it the link is the serial one by default: say once how to choose.
  const bool linkChosen = ctx.platform.fs.Exists(JoinPath(ctx.settingsDir, "KBCHKSCO.TXT"));
  ReadProgramSettings(ctx);

  InitLink(ctx);
  ProbePorts(ctx);
  ClearStaleJobFiles(ctx);
  LogSlotsTakingJobs(ctx);
  ctx.dump.inProgress = false;

  AddTrayIcon(ctx);
  StartNetworkConnection(ctx);

  StartPolling(ctx);
  ctx.platform.notifier.Log("Kolibra " + VersionText() + " avviato, cartella dati " + ctx.dataDir);
  if (options.headless && !linkChosen) ctx.platform.notifier.Log(kLinkNotConfigured + ctx.settingsDir);
  return StartResult::kStarted;
}

void RequestShutdown(AppContext& ctx) {
  const JobCycleState& cycle = ctx.cycle;
  if (cycle.ended) return;
  if (cycle.shutdownRequested) {
    ctx.platform.notifier.Log("Chiusura gia' in corso");
    return;
  }
  CloseJobCycle(ctx, true);
  if (cycle.jobBusy || ctx.dump.inProgress) {
    // The run on the link ends by its own rules (its time-outs bound it):
    // cutting its waits short could send a line again or leave a receipt
    // half done.
    ctx.platform.notifier.Log("Chiusura richiesta: attesa della fine del lavoro in corso");
  }
  // Wakes the main loop, which runs the shutdown once nothing is running.
  ctx.platform.loop.Post([] {});
}

void ShutDown(AppContext& ctx, const DriverHooks& hooks) {
  CloseJobCycle(ctx, false);
  ctx.platform.folderWatch.Stop();
  RemoveTrayIcon(ctx);
  MinimizeWindow(ctx);
  if (hooks.shutdownBegins) hooks.shutdownBegins();
  ctx.platform.notifier.Log(kClosingNotice);
  WaitWithEvents(ctx, 1000);
  // A kept outcome is written if the data folder is back; else the journal
  // still holds its job as started, and the next start-up answers it E520.
  DeliverPendingOutcome(ctx);
  // Runs once no job or dump is on the link: jobs still waiting are answered.
  AnswerWaitingJobs(ctx, false);
  SaveSettings(ctx);
  CloseSerialPort(ctx);
  ctx.platform.socket.Close();
  if (hooks.shutdownEnded) hooks.shutdownEnded();
  EndJobCycle(ctx);
  ctx.platform.notifier.Log("Kolibra terminato");
}

void EndSession(AppContext& ctx, const DriverHooks& hooks) {
  if (ctx.cycle.ended) return;
  RequestShutdown(ctx);
  if (!ctx.cycle.jobBusy && !ctx.dump.inProgress) {
    ShutDown(ctx, hooks);
    return;
  }
  ctx.platform.notifier.Log("Sessione di Windows terminata durante un lavoro");
  AnswerWaitingJobs(ctx, false);
  SaveSettings(ctx);
  EndJobCycle(ctx);
}

void RunMainLoop(AppContext& ctx, const DriverHooks& hooks) {
  EventLoop& loop = ctx.platform.loop;
  while (!ctx.cycle.ended) {
    // Checked before waiting too: a request may have come before the loop ran.
    if (ctx.cycle.shutdownRequested && !ctx.cycle.jobBusy && !ctx.dump.inProgress) {
      ShutDown(ctx, hooks);
      continue;
    }
    loop.Wait(loop.NowMs() + kMainLoopIdleMs);
  }
}

int RunDriver(AppContext& ctx, const DriverOptions& options, ControlChannel* control,
              const DriverHooks& hooks) {
  std::string settingsDir = options.settingsDir.empty() ? DefaultSettingsFolder(ctx.platform.system)
                                                        : DropTrailingSeparator(options.settingsDir);
  if (!ctx.platform.fs.IsDirectory(settingsDir)) {
    ShowMessage(ctx, settingsDir + kDirMissingSuffix);
    return kExitStartupFailed;
  }
  // A second copy on the same settings folder ends at once, with one log line.
  if (!ctx.platform.system.AcquireSingleInstance(settingsDir)) {
    LogLockRefusal(ctx, "Cartella impostazioni gia' in uso da un'altra copia di Kolibra: " + settingsDir,
                   JoinPath(settingsDir, "kolibra.lock"));
    return kExitAnotherCopy;
  }
  ctx.settingsDir = settingsDir;
  ctx.platform.loop.SetTerminateHandler([&ctx] { RequestShutdown(ctx); });
  if (hooks.startupBegins) hooks.startupBegins();
  const StartResult started = StartDriver(ctx, options);
  if (hooks.startupEnded) hooks.startupEnded();
  switch (started) {
    case StartResult::kStarted: break;
    case StartResult::kFailed: return kExitStartupFailed;
    case StartResult::kAnotherCopy: return kExitAnotherCopy;
  }
  // A logoff or shutdown waits for a running job, then runs the shutdown.
  ctx.platform.loop.SetSessionEndHandlers(
      [&ctx] { return ctx.cycle.jobBusy || ctx.dump.inProgress ? std::string(kSessionEndBlocked) : std::string(); },
      [&ctx, &hooks] { EndSession(ctx, hooks); });
  // Headless, the log is the window: the operator follows from the start.
  if (options.headless) OperatorWatches(ctx);
  // Opened under the single-instance lock taken above; closed once shutdown
  // has run.
  const ControlEndpoint endpoint(ctx, control);
  RunMainLoop(ctx, hooks);
  ctx.platform.loop.SetSessionEndHandlers({}, {});
  return kExitOk;
}

}  // namespace kolibra
