#include "app/job_cycle.h"

#include <array>
#include <memory>
#include <utility>

#include "app/run_job.h"
#include "core/file_util.h"
#include "core/folder_scan.h"
#include "core/job_files.h"
#include "core/job_journal.h"
#include "core/messages.h"
#include "core/operator_events.h"
#include "core/poll_timer.h"
#include "outcome/dump.h"
#include "outcome/job_outcome.h"
#include "ui/operator_window.h"
#include "ui/window_facts.h"

namespace kolibra {

namespace {

constexpr int16_t kTickCounterWrap = 30000;

// Enables or disables the polling timer at the given interval; setting it
// restarts its period from now.
void ArmPollTimer(AppContext& ctx, int64_t intervalMs, bool enabled) {
  if (ctx.cycle.pollTimer < 0) return;
  ctx.platform.loop.SetTimer(ctx.cycle.pollTimer, intervalMs, enabled);
}

// Enables or disables it keeping its current interval.
void EnablePollTimer(AppContext& ctx, bool enabled) { ArmPollTimer(ctx, PollTimerInterval(ctx), enabled); }

// A start file whose job has ended but that could not be deleted: the job
// is not run again; deleting it is tried once a tick, and the slot takes no
// job until it is gone. Returns true while such a file is there.
bool HoldAnsweredStartFile(AppContext& ctx, int16_t slot, const FileInfo& start) {
  if (!StartFileAnswered(ctx, slot, start)) {
    ctx.cycle.stuckStartLogged[slot - 1] = false;
    return false;
  }
  const std::string path = JobFilePath(ctx, "SR_START", slot);
  const Status removed = ctx.platform.fs.Remove(path);
  if (removed.ok()) {
    ctx.cycle.stuckStartLogged[slot - 1] = false;
  } else if (!ctx.cycle.stuckStartLogged[slot - 1]) {
    ctx.cycle.stuckStartLogged[slot - 1] = true;
    ctx.platform.notifier.Log(removed.Explain("Lavoro gia' eseguito, file di avvio non cancellabile: " + path));
    AppendJobLog(ctx, removed.Explain("Errore nella Kill di SR_START"));
  }
  return true;
}

// The status box shows why a job waits; shown (and logged) once, not each tick.
void ShowStatusOnce(AppContext& ctx, const std::string& text) {
  if (ctx.state.status != text) ShowStatus(ctx, text);
}

// The test-receipt flag belongs to the files the test receipt wrote: a job
// of its slot whose files are others (the calling application wrote its own
// job since) runs as an ordinary job, and the flag is spent either way.
void TakeTestReceiptFlag(AppContext& ctx, int16_t slot) {
  JobCycleState& cycle = ctx.cycle;
  ctx.job.testReceipt = 0;
  if (cycle.testFiles.slot != slot) return;
  if (cycle.testFiles.startIdentity == ctx.job.startIdentity &&
      cycle.testFiles.commandIdentity == ctx.job.commandIdentity) {
    ctx.job.testReceipt = 1;
    ctx.tenderLineCount = 1;  // its one payment line closes the receipt
  } else {
    ctx.platform.notifier.Log("Scontrino di prova sostituito da un lavoro sulla porta COM" +
                              std::to_string(slot) + ": eseguito come lavoro normale");
  }
  cycle.testFiles = TestReceiptFiles{};
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

// Stops watching the data folder; the next polling pass watches again the
// folder then locked (and may say again that it cannot).
void DropFolderWatch(AppContext& ctx) {
  ctx.platform.folderWatch.Stop();
  ctx.cycle.watch.armed = false;
  ctx.cycle.watch.refused = false;
}

// Takes jobs only from a data folder this copy has locked: a folder put in
// place of the locked one, or a lock file deleted by someone else, is locked
// again when it can be; otherwise nothing runs there (said once, and shown).
bool DataFolderLockHeld(AppContext& ctx) {
  const DataLockState state = ctx.platform.system.CheckDataFolderLock();
  if (state == DataLockState::kLost) {
    if (!ctx.cycle.dataLockLost) ShowStatus(ctx, kDataLockLost + ctx.dataDir);
    ctx.cycle.dataLockLost = true;
    return false;
  }
  if (state == DataLockState::kRetaken) {
    ctx.platform.notifier.Log(kDataLockRetaken + ctx.dataDir);
    DropFolderWatch(ctx);  // it watched the folder that was locked before
  }
  ctx.cycle.dataLockLost = false;
  return true;
}

using StartFiles = std::array<FileInfo, kSlotCount>;
using StartIdentities = std::array<std::string, kSlotCount>;

// The start files slot by slot, from one listing of the folder.
StartFiles InspectStartFiles(AppContext& ctx) { return ScanJobFolder(ctx).starts; }

StartIdentities IdentitiesOf(const StartFiles& files) {
  StartIdentities ids;
  for (int n = 0; n < kSlotCount; ++n) ids[n] = files[n].identity;
  return ids;
}

// The start files' identities, slot by slot ("" when missing).
StartIdentities StartFileIdentities(AppContext& ctx) { return IdentitiesOf(InspectStartFiles(ctx)); }

// FindSlotToServe with the listing this pass already made, or nullptr to
// look at each file by its name.
int16_t FindSlotAmong(AppContext& ctx, const FolderScan* scan);

// True when a start file is there that the last polling pass did not see:
// the driver's own writes, and start files that wait for a cause to go,
// never make one.
bool NewStartFile(const StartIdentities& now, const AppContext& ctx) {
  for (int n = 0; n < kSlotCount; ++n) {
    if (!now[n].empty() && now[n] != ctx.cycle.watch.seenStarts[n]) return true;
  }
  return false;
}

bool NamesStartFile(const FolderChange& change) {
  if (!change.namesKnown) return true;
  for (const std::string& name : change.names) {
    for (int n = 1; n <= kSlotCount; ++n) {
      if (name == JobFileName("SR_START", n)) return true;
    }
  }
  return false;
}

// No job, dump or pause holds the cycle, and the polling runs.
bool CycleIdle(AppContext& ctx) {
  return !ctx.cycle.jobBusy && !ctx.dump.inProgress && ctx.cycle.pauseMarker == PauseMarker::kNone &&
         PollTimerEnabled(ctx);
}

// How long the start files must stay the same before a change without
// names runs the tick.
constexpr int64_t kSettleMs = 10;

void OnStartFilesSettled(AppContext& ctx) {
  FolderWatchState& watch = ctx.cycle.watch;
  ctx.platform.loop.SetTimer(watch.settleTimer, kSettleMs, false);
  if (ctx.cycle.closing) return;
  if (!CycleIdle(ctx)) {
    watch.pending = true;
    return;
  }
  const StartIdentities now = StartFileIdentities(ctx);
  if (now != watch.settling) {
    watch.settling = now;  // still being written
    ctx.platform.loop.SetTimer(watch.settleTimer, kSettleMs, true);
    return;
  }
  // A start file that is still empty may be just created, its content not
  // written yet: taken now, it would read later as another job. The
  // polling takes it.
  for (int n = 1; n <= kSlotCount; ++n) {
    if (now[n - 1].empty() || now[n - 1] == watch.seenStarts[n - 1]) continue;
    const ReadResult start = ctx.platform.fs.ReadRegularFile(JobFilePath(ctx, "SR_START", n), 1);
    if (start.status == ReadStatus::kTooLarge || !start.bytes.empty()) {
      OnPollTick(ctx);
      return;
    }
  }
}

// A change in the data folder: a new start file runs the polling tick at
// once when the cycle is idle; while a job, a dump or the pause after them
// holds the cycle, it is kept for the end of the pause.
void OnFolderChange(AppContext& ctx, const FolderChange& change) {
  JobCycleState& cycle = ctx.cycle;
  FolderWatchState& watch = cycle.watch;
  if (change.ended) {
    watch.armed = false;  // watched again from the next tick
    return;
  }
  if (cycle.closing || !NamesStartFile(change)) return;
  if (!CycleIdle(ctx)) {
    watch.pending = true;
    return;
  }
  const StartIdentities now = StartFileIdentities(ctx);
  if (!NewStartFile(now, ctx)) return;
  if (change.namesKnown) {
    OnPollTick(ctx);  // written and closed, or moved in whole
    return;
  }
  EventLoop& loop = ctx.platform.loop;
  if (watch.settleTimer < 0) watch.settleTimer = loop.CreateTimer([&ctx] { OnStartFilesSettled(ctx); });
  watch.settling = now;
  loop.SetTimer(watch.settleTimer, kSettleMs, true);
}

// Watches the locked data folder; one that cannot be watched is said once
// and left to the polling.
void KeepFolderWatch(AppContext& ctx) {
  FolderWatchState& watch = ctx.cycle.watch;
  if (watch.armed || watch.refused) return;
  watch.armed = ctx.platform.folderWatch.Start(
      ctx.dataDir, [&ctx](const FolderChange& change) { OnFolderChange(ctx, change); });
  if (watch.armed) return;
  watch.refused = true;
  ctx.platform.notifier.Log(kFolderWatchRefused + ctx.dataDir);
}

// Printed, uncertain, or failed with its code.
void CountJob(JobCounts& counts, JobResult code) {
  ++counts.jobs;
  if (code == JobResult::kOk) {
    ++counts.printed;
  } else if (code == JobResult::kOutcomeUncertain) {
    ++counts.uncertain;
  } else {
    ++counts.failedByCode[static_cast<int>(code)];
  }
}

// One pause tick of 1000 ms after a job or a dump; the tick after it
// restores the polling interval.
void PauseAfter(AppContext& ctx, PauseMarker marker) {
  ctx.cycle.pauseMarker = marker;
  ArmPollTimer(ctx, 1000, true);
}

// A dump of slot n runs (the polling stopped meanwhile: the dump waits in
// the loop) and the pause after it starts; the window hears what it came to.
void RunSlotDump(AppContext& ctx, int16_t n) {
  if (!DumpMayStart(ctx, n)) return;
  EnablePollTimer(ctx, false);
  const DumpEnd end = StartDump(ctx, n);
  PauseAfter(ctx, PauseMarker::kAfterDump);
  // Other slots switched off leave the test button as a cleared box does.
  if (end.slotsSwitchedOff) Window(ctx).testReceiptReady = false;
  // An ECR answering "0" turns the window's updates on even in the tray.
  if (end.zeroAnswer) Window(ctx).watched = true;
}

// What the operator's actions tell the cycle.
class CycleEventsOfContext final : public CycleEvents {
 public:
  explicit CycleEventsOfContext(AppContext& ctx) : ctx_(ctx) {}
  void IntervalChosen(int32_t intervalMs) override { SetPollingInterval(ctx_, intervalMs); }
  void SlotSwitched(bool ticked) override {
    int64_t interval = PollTimerInterval(ctx_);
    if (interval <= 0) interval = ctx_.cycle.pollingIntervalMs;
    ArmPollTimer(ctx_, interval, ticked);
  }
  void TestReceiptWritten(const TestReceiptFiles& files) override {
    ctx_.cycle.testFiles = files;
    if (!PollTimerEnabled(ctx_)) EnablePollTimer(ctx_, true);
  }

 private:
  AppContext& ctx_;
};

}  // namespace

void InstallPollTimer(AppContext& ctx, std::function<void()> onTick) {
  if (!ctx.cycleEvents) ctx.cycleEvents = std::make_unique<CycleEventsOfContext>(ctx);
  if (ctx.cycle.pollTimer >= 0) return;
  if (!onTick) onTick = [&ctx] { OnPollTick(ctx); };
  ctx.cycle.pollTimer = ctx.platform.loop.CreateTimer(std::move(onTick));
}

void ResetJobCycle(AppContext& ctx) {
  JobCycleState& cycle = ctx.cycle;
  cycle.jobBusy = false;
  cycle.testFiles = TestReceiptFiles{};
  cycle.pauseMarker = PauseMarker::kNone;
  cycle.tickCounter = 0;
}

void SetPollingInterval(AppContext& ctx, int32_t intervalMs) {
  const bool wasEnabled = PollTimerEnabled(ctx);
  ctx.cycle.pollingIntervalMs = intervalMs;
  ArmPollTimer(ctx, intervalMs, wasEnabled);
}

void SetPortAvailable(AppContext& ctx, int16_t slot, bool available) {
  ctx.cycle.portAvailable[slot - 1] = available;
}

void StartPolling(AppContext& ctx) {
  ctx.cycle.tickCounter = 0;
  InstallPollTimer(ctx);
  ArmPollTimer(ctx, ctx.cycle.pollingIntervalMs, true);
}

void CloseJobCycle(AppContext& ctx, bool requested) {
  if (requested) ctx.cycle.shutdownRequested = true;
  ctx.cycle.closing = true;
  EnablePollTimer(ctx, false);
}

void EndJobCycle(AppContext& ctx) { ctx.cycle.ended = true; }

void JobEnded(AppContext& ctx, JobResult code) {
  JobCycleState& cycle = ctx.cycle;
  if (cycle.jobBusy) {
    cycle.lastJob = LastJob{true, ctx.job.currentSlot, code, ctx.platform.loop.LocalTime()};
    CountJob(cycle.counts, code);
    cycle.jobBusy = false;
  }
  PauseAfter(ctx, PauseMarker::kAfterJob);
  Window(ctx).testReceiptReady = true;
  AnnounceJob(ctx, false);
}

void OnPollTick(AppContext& ctx) {
  JobCycleState& cycle = ctx.cycle;
  if (ctx.dump.inProgress) return;
  EnablePollTimer(ctx, false);
  if (cycle.closing) return;
  if (cycle.pauseMarker != PauseMarker::kNone) {
    cycle.pauseMarker = PauseMarker::kNone;
    // A start file that came during the job or the pause ends the pause
    // with a polling pass; else this tick polls nothing.
    const bool jobCame = cycle.watch.pending && NewStartFile(StartFileIdentities(ctx), ctx);
    cycle.watch.pending = false;
    ArmPollTimer(ctx, cycle.pollingIntervalMs, !jobCame);
    if (!jobCame) return;
  }
  ShowPollingTick(ctx);
  cycle.tickCounter = cycle.tickCounter > kTickCounterWrap ? 0 : cycle.tickCounter + 1;
  ServeNextJob(ctx);
}

void ServeNextJob(AppContext& ctx) {
  JobCycleState& cycle = ctx.cycle;
  EnablePollTimer(ctx, false);
  if (cycle.closing) return;
  // This pass sees every start file there is now, from one listing, which
  // also tells whether what the folder's path names is to be checked.
  const FolderScan scan = ScanJobFolder(ctx);
  const bool check = FolderCheckDue(ctx, scan, cycle.watch.checkedAtMs);
  if (check) cycle.watch.checkedAtMs = ctx.platform.loop.NowMs();
  const bool folderReady = !check || (DataDirPresent(ctx) && DataFolderLockHeld(ctx));
  if (folderReady) {
    KeepFolderWatch(ctx);
  } else {
    DropFolderWatch(ctx);
  }
  cycle.watch.pending = false;
  const StartFiles& starts = scan.starts;
  cycle.watch.seenStarts = IdentitiesOf(starts);
  // A delivered outcome may take its start file away. One kept with its
  // job's held folder goes there, whatever the path names now.
  const bool outcomeWaited = ctx.outcome.pending.any;
  const bool delivered = (folderReady || ctx.outcome.pending.folder) && DeliverPendingOutcome(ctx);
  if (!folderReady || !delivered) {
    EnablePollTimer(ctx, true);
    return;
  }

  bool found = false;
  int16_t slot = FindSlotAmong(ctx, outcomeWaited ? nullptr : &scan);
  // The job's own files are handled in the folder its start file was found
  // in, held until its outcome is written: a folder put in place of it
  // meanwhile gets none of them. Should the folder have changed since the
  // start file was seen, the next tick looks again.
  const bool slotFound = slot >= 1 && slot <= kSlotCount;
  const JobFolderScope jobFolder(ctx, slotFound ? HoldDataFolder(ctx) : nullptr);
  if (slotFound && !JobFileIs(ctx, "SR_START", slot, ctx.job.startIdentity)) slot = 0;
  if (slot >= 1 && slot <= kSlotCount) {
    ctx.job.currentSlot = slot;
    const std::string commandPath = JobFilePath(ctx, "SR_DATI", slot);
    const std::string outputPath = JobFilePath(ctx, "SR_OUT", slot);
    // A command file that is a folder, a device, a FIFO or a link is no
    // command file.
    const FileInfo command = ctx.platform.fs.Inspect(commandPath);
    if (command.kind == FileKind::kRegular) {
      ctx.job.commandPath = commandPath;
      ctx.job.commandIdentity = command.identity;
      ctx.link.outputPath = outputPath;
      found = true;
    } else {
      AnswerJobWithError(ctx, slot, kErrNoCommandFile);
    }
  }
  // A termination request that came during a dump of this scan starts nothing.
  if (!found || ctx.dump.inProgress || cycle.closing) {
    if (!cycle.closing) EnablePollTimer(ctx, true);
    return;
  }

  // The job starts only once its start is on the disk: a job that ran
  // without its record would read as never run after a crash.
  const Status recorded = RecordJobStage(ctx, slot, JobStage::kStarted, ctx.job.startIdentity, ctx.job.commandIdentity);
  if (!recorded.ok()) {
    ShowStatusOnce(ctx, recorded.Explain(kStatusJournalNotWritten));
    EnablePollTimer(ctx, true);
    return;
  }
  TakeTestReceiptFlag(ctx, slot);
  cycle.jobBusy = true;
  cycle.jobStartedAt = ctx.platform.loop.LocalTime();
  ctx.job.jobLinesSent = 0;
  AnnounceJob(ctx, true);
  ShowStatus(ctx, kStatusSending);
  const JobResult code = RunJob(ctx);
  ReportJobOutcome(ctx, code);
  JobEnded(ctx, code);
}

int16_t FindSlotToServe(AppContext& ctx) { return FindSlotAmong(ctx, nullptr); }

namespace {

int16_t FindSlotAmong(AppContext& ctx, const FolderScan* scan) {
  FileSystem& fs = ctx.platform.fs;
  for (int16_t n = 1; n <= kSlotCount; ++n) {
    // An answer kept for the slot's start file is written first; until it
    // is, the slot neither dumps (a failed dump would answer it otherwise)
    // nor runs it.
    if (AnswerStillPending(ctx, n)) continue;
    const bool takesJobs = SlotTakesJobs(ctx, n);
    const bool serialListed = scan != nullptr && scan->serialNamed[n - 1];
    if (takesJobs && !serialListed && !fs.Exists(JobFilePath(ctx, "SR_MATR", n))) {
      RunSlotDump(ctx, n);
      scan = nullptr;  // the dump ran the loop: the files may have changed
      continue;
    }
    if (takesJobs) ctx.job.currentSlot = n;
    const FileInfo start = scan != nullptr ? scan->starts[n - 1] : fs.Inspect(JobFilePath(ctx, "SR_START", n));
    if (start.kind == FileKind::kMissing || HoldAnsweredStartFile(ctx, n, start) ||
        AnswerStartFileOfEndedJob(ctx, n, start)) {
      continue;
    }
    if (!takesJobs) {
      // A slot that takes no jobs (switched off by the operator, by a dump on
      // another slot, or without a port) answers its job once.
      AnswerJobWithError(ctx, n, kErrNoPort);
      continue;
    }
    if (start.kind != FileKind::kRegular) {
      // A folder, device, FIFO or link as start file is answered once.
      AnswerJobWithError(ctx, n, kErrNoCommandFile);
      continue;
    }
    // A result file left by an earlier job would be read as this job's: the
    // job waits (tried again each tick) until every one of them is gone.
    const Status cleared = ClearStaleResultFiles(ctx, n);
    if (!cleared.ok()) {
      if (!ctx.cycle.staleResultLogged[n - 1]) {
        ctx.cycle.staleResultLogged[n - 1] = true;
        const std::string text = cleared.Explain("File di esito precedente non cancellabile sulla porta COM" +
                                                 std::to_string(n) + ": lavoro in attesa");
        ctx.platform.notifier.Log(text);
        AppendJobLog(ctx, text);
      }
      ShowStatusOnce(ctx, cleared.Explain(kStatusStaleResult));
      continue;
    }
    ctx.cycle.staleResultLogged[n - 1] = false;
    ctx.dump.pending[n - 1] = false;
    ctx.job.startIdentity = start.identity;
    return n;
  }
  bool anyPort = false;
  for (bool available : ctx.cycle.portAvailable) anyPort = anyPort || available;
  if (!anyPort) {
    for (int n = 1; n <= kSlotCount; ++n) WriteErrorFile(ctx, kErrNoPort, n);
  }
  return 0;
}

}  // namespace

}  // namespace kolibra
