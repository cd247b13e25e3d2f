#include "app/job_cycle.h"

#include <array>

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

namespace kolibra {

namespace {

constexpr int16_t kTickCounterWrap = 30000;

// A start file whose job has ended but that could not be deleted: the job
// is not run again; deleting it is tried once a tick, and the slot takes no
// job until it is gone. Returns true while such a file is there.
bool HoldAnsweredStartFile(AppContext& ctx, int16_t slot, const FileInfo& start) {
  if (!StartFileAnswered(ctx, slot, start)) {
    ctx.cycle.stuckStartLogged[slot - 1] = false;
    return false;
  }
  const std::string path = JobFilePath(ctx, "SR_START", slot);
  if (ctx.platform.fs.Remove(path)) {
    ctx.cycle.stuckStartLogged[slot - 1] = false;
  } else if (!ctx.cycle.stuckStartLogged[slot - 1]) {
    ctx.cycle.stuckStartLogged[slot - 1] = true;
    ctx.platform.notifier.Log("Lavoro gia' eseguito, file di avvio non cancellabile: " + path);
    AppendJobLog(ctx, "Errore nella Kill di SR_START");
  }
  return true;
}

// The status box shows why a job waits; shown (and logged) once, not each tick.
void ShowStatusOnce(AppContext& ctx, const char* text) {
  if (ctx.state.status != text) ShowStatus(ctx, text);
}

// The test-receipt flag belongs to the files the test receipt wrote: a job
// of its slot whose files are others (the calling application wrote its own
// job since) runs as an ordinary job, and the flag is spent either way.
void TakeTestReceiptFlag(AppContext& ctx, int16_t slot) {
  JobCycleState& cycle = ctx.cycle;
  cycle.testReceipt = 0;
  if (cycle.testFiles.slot != slot) return;
  if (cycle.testFiles.startIdentity == cycle.startIdentity &&
      cycle.testFiles.commandIdentity == cycle.commandIdentity) {
    cycle.testReceipt = 1;
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

// FindSlotToServe with the start files this pass already looked at, or
// nullptr to look at them.
int16_t FindSlotAmong(AppContext& ctx, const StartFiles* starts);

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


}  // namespace

void InstallPollTimer(AppContext& ctx) {
  CreatePollTimer(ctx, [&ctx] { OnPollTick(ctx); });
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
  if (ctx.state.watched) {
    ctx.state.blinkShown = cycle.blink;
    cycle.blink = !cycle.blink;
  }
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
  const bool outcomeWaited = cycle.pendingOutcome.any;
  const bool delivered = (folderReady || cycle.pendingOutcome.folder) && DeliverPendingOutcome(ctx);
  if (!folderReady || !delivered) {
    EnablePollTimer(ctx, true);
    return;
  }

  bool found = false;
  int16_t slot = FindSlotAmong(ctx, outcomeWaited ? nullptr : &starts);
  // The job's own files are handled in the folder its start file was found
  // in, held until its outcome is written: a folder put in place of it
  // meanwhile gets none of them. Should the folder have changed since the
  // start file was seen, the next tick looks again.
  const bool slotFound = slot >= 1 && slot <= kSlotCount;
  const JobFolderScope jobFolder(ctx, slotFound ? HoldDataFolder(ctx) : nullptr);
  if (slotFound && !JobFileIs(ctx, "SR_START", slot, cycle.startIdentity)) slot = 0;
  if (slot >= 1 && slot <= kSlotCount) {
    cycle.currentSlot = slot;
    const std::string commandPath = JobFilePath(ctx, "SR_DATI", slot);
    const std::string outputPath = JobFilePath(ctx, "SR_OUT", slot);
    // A command file that is a folder, a device, a FIFO or a link is no
    // command file.
    const FileInfo command = ctx.platform.fs.Inspect(commandPath);
    if (command.kind == FileKind::kRegular) {
      cycle.commandPath = commandPath;
      cycle.commandIdentity = command.identity;
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
  if (!RecordJobStage(ctx, slot, JobStage::kStarted, cycle.startIdentity, cycle.commandIdentity)) {
    ShowStatusOnce(ctx, kStatusJournalNotWritten);
    EnablePollTimer(ctx, true);
    return;
  }
  TakeTestReceiptFlag(ctx, slot);
  cycle.jobBusy = true;
  cycle.jobStartedAt = ctx.platform.loop.LocalTime();
  cycle.jobLinesSent = 0;
  AnnounceJob(ctx, true);
  if (ctx.state.watched) ShowStatus(ctx, kStatusSending);
  const JobResult code = RunJob(ctx);
  ReportJobOutcome(ctx, code);
}

int16_t FindSlotToServe(AppContext& ctx) { return FindSlotAmong(ctx, nullptr); }

namespace {

int16_t FindSlotAmong(AppContext& ctx, const StartFiles* starts) {
  FileSystem& fs = ctx.platform.fs;
  for (int16_t n = 1; n <= kSlotCount; ++n) {
    // An answer kept for the slot's start file is written first; until it
    // is, the slot neither dumps (a failed dump would answer it otherwise)
    // nor runs it.
    if (AnswerStillPending(ctx, n)) continue;
    const bool takesJobs = SlotTakesJobs(ctx, n);
    if (takesJobs && !fs.Exists(JobFilePath(ctx, "SR_MATR", n))) {
      StartDump(ctx, n);
      starts = nullptr;  // the dump ran the loop: the files may have changed
      continue;
    }
    if (takesJobs) ctx.cycle.currentSlot = n;
    const FileInfo start = starts != nullptr ? (*starts)[n - 1] : fs.Inspect(JobFilePath(ctx, "SR_START", n));
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
    if (!ClearStaleResultFiles(ctx, n)) {
      if (!ctx.cycle.staleResultLogged[n - 1]) {
        ctx.cycle.staleResultLogged[n - 1] = true;
        const std::string text = "File di esito precedente non cancellabile sulla porta COM" +
                                 std::to_string(n) + ": lavoro in attesa";
        ctx.platform.notifier.Log(text);
        AppendJobLog(ctx, text);
      }
      ShowStatusOnce(ctx, kStatusStaleResult);
      continue;
    }
    ctx.cycle.staleResultLogged[n - 1] = false;
    ctx.dump.pending[n - 1] = false;
    ctx.cycle.startIdentity = start.identity;
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
