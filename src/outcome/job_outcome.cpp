#include "outcome/job_outcome.h"

#include <utility>

#include "core/job_files.h"
#include "core/job_journal.h"
#include "core/messages.h"
#include "core/operator_events.h"

namespace kolibra {

std::string OutcomeStatusText(JobResult code) {
  switch (code) {
    case JobResult::kOk: return "TUTTO OK";
    case JobResult::kNoAnswer: return "TIMEOUT SCADUTO";
    case JobResult::kConversionRefused: return "ERRORE DI CONVERSIONE FILE DI INPUT";
    case JobResult::kOutcomeUncertain: return "ESITO INCERTO";
    case JobResult::kCommandFileUnreadable: return "FILE DI INPUT NON LEGGIBILE";
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
    case JobResult::kCommandFileUnreadable: return kErrCommandFileUnreadable;
    default: return "";
  }
}

namespace {

std::string OutcomeLogText(const PendingOutcome& o) {
  std::string text = OutcomeStatusText(o.code);
  if (text.empty()) text = OutcomeErrorText(o.code);
  return "porta COM" + std::to_string(o.slot) + ", esito " + text;
}

// What the job's result says, as the journal keeps it.
JobOutcomeClass OutcomeClassOf(JobResult code) {
  if (code == JobResult::kOk) return JobOutcomeClass::kPrinted;
  return code == JobResult::kOutcomeUncertain ? JobOutcomeClass::kUncertain : JobOutcomeClass::kFailed;
}

// The kept job's folder was removed, its start file with it: no result
// file can be written, and none would be read. Dropped as a withdrawn job
// is, said in the log and in the data folder's LOGFILE.TXT; the journal
// records the job as ended, so that it never runs again.
bool DropOutcomeOfDeletedFolder(AppContext& ctx) {
  OutcomeState& kept = ctx.outcome;
  const PendingOutcome o = std::exchange(kept.pending, PendingOutcome{});
  const JobFolderScope dataFolder(ctx, nullptr);
  const std::string text = "Cartella del lavoro eliminata durante il lavoro: esito non scritto, " + OutcomeLogText(o);
  ctx.platform.notifier.Log(text);
  if (ctx.platform.fs.IsDirectory(ctx.dataDir)) AppendJobLog(ctx, text);
  RecordJobStage(ctx, o.slot, JobStage::kDone, o.startIdentity, o.commandIdentity, OutcomeClassOf(o.code));
  kept.keptLogged = false;
  return true;
}

// A result file of the kept outcome could not be written although the data
// folder is there: the outcome stays kept and the start file with it; said
// once with the reason (log and LOGFILE.TXT) and shown.
bool KeepOutcome(AppContext& ctx, const std::string& base, const Status& failure) {
  OutcomeState& kept = ctx.outcome;
  if (!kept.keptLogged) {
    kept.keptLogged = true;
    const std::string path = JobFilePath(ctx, base, kept.pending.slot);
    ctx.platform.notifier.Log(failure.Explain("File di esito non scritto: esito conservato, " +
                                              OutcomeLogText(kept.pending) + " (" + ShownPath(ctx, path) + ")"));
    AppendJobLog(ctx, failure.Explain(RenameLogText(path)));
  }
  const std::string status = failure.Explain(kStatusResultNotWritten);
  if (ctx.state.status != status) ShowStatus(ctx, status);
  return false;
}

}  // namespace

bool DeliverPendingOutcome(AppContext& ctx) {
  OutcomeState& kept = ctx.outcome;
  PendingOutcome& o = kept.pending;
  if (!o.any) return true;
  FileSystem& fs = ctx.platform.fs;
  const int slot = o.slot;
  // The job's files are in the folder it came from, held since: there they
  // go, whatever the data folder's path names now.
  if (o.folder && o.folder->State() == HeldFolderState::kDeleted) return DropOutcomeOfDeletedFolder(ctx);
  const JobFolderScope jobFolder(ctx, o.folder);
  // Before the start file can go its result file must be written; a folder
  // that is gone (a share that dropped, a folder not held and renamed)
  // holds neither.
  if (o.folder ? o.folder->State() != HeldFolderState::kPresent : !fs.IsDirectory(ctx.dataDir)) {
    if (!kept.keptLogged) {
      kept.keptLogged = true;
      ctx.platform.notifier.Log("Cartella dati non disponibile alla fine del lavoro: esito conservato, " +
                                OutcomeLogText(o));
      ShowStatus(ctx, kStatusOutcomeKept);
    }
    return false;
  }
  ctx.job.currentSlot = static_cast<int16_t>(slot);
  // The job is withdrawn when its start file went or is another job's. A
  // start file written again (in place, or renamed in) beside the job's own
  // untouched command file is still this job's: it gets this job's result,
  // and left there it would run the same command file again.
  const FileInfo start = fs.Inspect(JobFilePath(ctx, "SR_START", slot));
  const bool sameStart = start.kind != FileKind::kMissing &&
                         (start.identity == o.startIdentity || JobFileIs(ctx, "SR_DATI", slot, o.commandIdentity));
  const bool withdrawn = !sameStart;
  if (!o.unplacedOutput.empty()) {
    // The receipt's records go in place whole before the result file (FINESCO
    // never comes without them); a withdrawn job's are dropped.
    const Status placed = withdrawn ? Status::Ok() : WriteResultFile(ctx, o.unplacedOutput, o.unplacedBytes);
    if (!placed.ok()) return KeepOutcome(ctx, "SR_OUT", placed);
    o.unplacedOutput.clear();
    o.unplacedBytes.clear();
  }
  if (withdrawn) {
    // Withdrawn: the start file went or is another job's, which waits for its
    // own turn; a result file now would be read as that job's.
    const std::string text = "Lavoro ritirato dal programma chiamante, " + OutcomeLogText(o);
    ctx.platform.notifier.Log(text);
    AppendJobLog(ctx, text);
  } else {
    if (o.code == JobResult::kOk) {
      // With no error file left, deleting the start file writes FINESCO; an
      // error file that cannot go would stand for the printed receipt.
      const std::string error = JobFilePath(ctx, "SR_ERR", slot);
      const Status removed = fs.Inspect(error).kind != FileKind::kMissing ? fs.Remove(error) : Status::Ok();
      if (!removed.ok()) return KeepOutcome(ctx, "SR_ERR", removed);
      if (JobFileIs(ctx, "SR_DATI", slot, o.commandIdentity)) DeleteCommandFile(ctx);
      const Status answered = DeleteStartFile(ctx);
      if (!answered.ok()) return KeepOutcome(ctx, "FINESCO", answered);
    } else {
      // The command file stays for the calling application to inspect. An
      // error file that cannot be written keeps the outcome: never FINESCO
      // in its place.
      const Status written = WriteErrorFile(ctx, OutcomeErrorText(o.code), slot);
      if (!written.ok()) return KeepOutcome(ctx, "SR_ERR", written);
      DeleteStartFile(ctx);
    }
  }
  // Recorded whether or not the start file went: the job never runs again.
  // With the start file it was answered to, so that one never runs it either.
  RecordJobStage(ctx, slot, JobStage::kDone, withdrawn ? o.startIdentity : start.identity, o.commandIdentity,
                 OutcomeClassOf(o.code));
  if (kept.keptLogged) {
    kept.keptLogged = false;
    ctx.platform.notifier.Log("Esito conservato scritto, " + OutcomeLogText(o));
  }
  o = PendingOutcome{};
  return true;
}

void ReportJobOutcome(AppContext& ctx, JobResult code) {
  if (!ctx.cycle.jobBusy) return;
  ShowStatus(ctx, kStatusFinishedPrefix + OutcomeStatusText(code));
  if (code == JobResult::kOk) ctx.state.ecrMessage.clear();

  const JobState& job = ctx.job;
  ctx.outcome.pending = PendingOutcome{true, job.currentSlot, code, job.startIdentity, job.commandIdentity,
                                       ctx.link.outputUnplaced ? ctx.link.outputPath : std::string(),
                                       ctx.link.outputUnplaced ? ctx.link.outputBytes : std::string(),
                                       job.jobFolder};
  ctx.link.outputUnplaced = false;
  DeliverPendingOutcome(ctx);
}

}  // namespace kolibra
