#include "core/job_files.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <utility>

#include "core/file_util.h"
#include "core/job_journal.h"
#include "core/messages.h"
#include "core/operator_events.h"
#include "core/owned_file.h"

namespace kolibra {

namespace {

constexpr int kKillFailureLimit = 20;
constexpr int64_t kKillRetryMs = 500;

bool ValidSlot(int slot) { return slot >= 1 && slot <= kSlotCount; }

std::string TwoDigits(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

// Date and time as the log writes them: dd/mm/yyyy hh:mm:ss.
std::string LogStamp(const CivilTime& t) {
  return TwoDigits(t.day) + "/" + TwoDigits(t.month) + "/" + std::to_string(t.year) + " " +
         TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" + TwoDigits(t.second);
}

// Runs the steps of one kill operation. A failed step is retried every
// 500 ms (blocking) until 20 failures have occurred in this call; from then on
// every failure is logged with its reason and the step is given up.
class KillRun {
 public:
  KillRun(AppContext& ctx, std::string logText) : ctx_(ctx), logText_(std::move(logText)) {}

  // True once the step succeeded, false when it was given up.
  bool Step(const std::function<Status()>& attempt) {
    for (Status failure = attempt(); !failure.ok(); failure = attempt()) {
      ++failures_;
      if (failures_ >= kKillFailureLimit) {
        AppendJobLog(ctx_, failure.Explain(logText_));
        return false;
      }
      ctx_.platform.loop.SleepBlocking(kKillRetryMs);
    }
    return true;
  }

 private:
  AppContext& ctx_;
  std::string logText_;
  int failures_ = 0;
};

void KillJobFile(AppContext& ctx, const std::string& base, const std::string& logText) {
  const int slot = ctx.job.currentSlot;
  if (!ValidSlot(slot)) return;
  const std::string path = JobFilePath(ctx, base, slot);
  KillRun run(ctx, logText);
  run.Step([&] { return ctx.platform.fs.Exists(path) ? ctx.platform.fs.Remove(path) : Status::Ok(); });
}

}  // namespace

std::string RenameLogText(const std::string& path) {
  const std::size_t sep = path.find_last_of("/\\");
  std::string name = sep == std::string::npos ? path : path.substr(sep + 1);
  name = name.substr(0, name.find('.'));
  return "Errore nella Rename di " + name;
}

std::string JobFileName(const std::string& base, int slot) {
  return base + ".00" + std::to_string(slot);
}

std::string JobFilePath(const AppContext& ctx, const std::string& base, int slot) {
  return JoinPath(JobFolderPath(ctx), JobFileName(base, slot));
}

const std::string& JobFolderPath(const AppContext& ctx) {
  return ctx.job.jobFolder ? ctx.job.jobFolder->Path() : ctx.dataDir;
}

std::string ShownPath(const AppContext& ctx, const std::string& path) {
  const std::string& folder = JobFolderPath(ctx);
  if (folder == ctx.dataDir || !path.starts_with(folder)) return path;
  return ctx.dataDir + path.substr(folder.size());
}

std::shared_ptr<HeldFolder> HoldDataFolder(AppContext& ctx) {
  StatusOr<std::unique_ptr<HeldFolder>> held = ctx.platform.fs.HoldFolder(ctx.dataDir);
  return std::move(held.value());
}

void DeleteIfPresent(AppContext& ctx, const std::string& name) {
  // Callers may pass the name with its leading separator ("\SR_START.001").
  std::string bare = name;
  while (!bare.empty() && (bare.front() == '\\' || bare.front() == '/')) bare.erase(0, 1);
  if (bare.empty()) return;
  const std::string path = JoinPath(ctx.dataDir, bare);
  if (ctx.platform.fs.Exists(path)) ctx.platform.fs.Remove(path);
}

Status WriteFreshFile(AppContext& ctx, const std::string& path, std::string_view bytes) {
  const StatusOr<std::FILE*> created = ctx.platform.fs.CreateFresh(path);
  if (!created.ok()) return created.status();
  OwnedFile file;
  file.Adopt(created.value());
  return file.WriteAll(bytes) ? Status::Ok() : LastOsError();
}

Status CreateTemporaryFor(AppContext& ctx, const std::string& path, OwnedFile& file, std::string& temporary,
                          FileAccess access) {
  StatusOr<std::FILE*> created = CreateTemporaryFile(ctx.platform.fs, path, access, temporary);
  file.Adopt(created.value());
  return created.status();
}

void ClearTemporaryLeftovers(AppContext& ctx, const std::string& folder) {
  FileSystem& fs = ctx.platform.fs;
  const StatusOr<std::vector<std::string>> names = fs.ListFolder(folder);
  for (const std::string& name : names.value()) {
    if (!IsTemporaryName(name)) continue;
    const std::string path = JoinPath(folder, name);
    if (fs.Inspect(path).kind == FileKind::kRegular) fs.Remove(path);
  }
}

namespace {

// Writes bytes into the open temporary file, flushes it to the disk, closes it
// and renames it to path: the first step that failed, with its reason.
Status PlaceTemporary(AppContext& ctx, OwnedFile& file, std::string_view bytes, const std::string& temporary,
                      const std::string& path) {
  FileSystem& fs = ctx.platform.fs;
  Status done = file.Write(bytes) ? fs.FlushToDisk(file.get()) : LastOsError();
  if (!file.CloseChecked() && done.ok()) done = LastOsError();
  if (done.ok()) done = fs.ReplaceWith(temporary, path);
  return done;
}

}  // namespace

Status WriteFileAtomically(AppContext& ctx, const std::string& path, std::string_view bytes,
                           FileAccess access) {
  return WriteFileAtomically(ctx.platform.fs, path, bytes, access);
}

Status WriteResultFile(AppContext& ctx, const std::string& path, std::string_view bytes) {
  return WriteFileAtomically(ctx, path, bytes);
}

Status CloseResultFile(AppContext& ctx, OwnedFile& file, const std::string& path) {
  if (!file.IsOpen()) return Status::Failed("no file open");
  LinkState& link = ctx.link;
  const Status placed = PlaceTemporary(ctx, file, link.outputBytes, link.outputTemporary, path);
  if (!placed.ok()) {
    ctx.platform.fs.Remove(link.outputTemporary);
    link.outputUnplaced = true;
  }
  link.outputTemporary.clear();
  return placed;
}

Status WriteErrorFile(AppContext& ctx, const std::string& text, int slot) {
  if (!ValidSlot(slot)) return Status::Failed("no port " + std::to_string(slot));
  // The whole path is used, however long the data directory's name is.
  return WriteResultFile(ctx, JobFilePath(ctx, "SR_ERR", slot), text + "\r\n");
}

void AppendJobLog(AppContext& ctx, const std::string& text) {
  const std::string path = JoinPath(JobFolderPath(ctx), "LOGFILE.TXT");
  const std::string line = LogStamp(ctx.platform.loop.LocalTime()) + " " + text + "\r\n";
  if (!ctx.platform.fs.AppendToPlainFile(path, line).ok()) ctx.platform.notifier.Log(text);
}

void AnswerJobWithError(AppContext& ctx, int slot, const std::string& text) {
  if (!ValidSlot(slot)) return;
  FileSystem& fs = ctx.platform.fs;
  const std::string identity = fs.Inspect(JobFilePath(ctx, "SR_START", slot)).identity;
  const std::string command = fs.Inspect(JobFilePath(ctx, "SR_DATI", slot)).identity;
  PendingAnswer& kept = ctx.job.pendingAnswers[slot - 1];
  // The answer first given to this start file stands (E520 never turns into
  // a "resend" answer).
  const bool same = kept.any && kept.startIdentity == identity;
  const std::string answer = same ? kept.text : text;
  // Answered without running, the command file keeps what the journal knows
  // of it: one that printed, or may have, never runs again.
  JobOutcomeClass outcome = answer == kErrUncertain ? JobOutcomeClass::kUncertain : JobOutcomeClass::kFailed;
  const auto& last = ctx.journal.slots[slot - 1];
  if (outcome == JobOutcomeClass::kFailed && last && last->stage == JobStage::kDone && !command.empty() &&
      last->commandIdentity == command &&
      (last->outcome == JobOutcomeClass::kPrinted || last->outcome == JobOutcomeClass::kUncertain)) {
    outcome = last->outcome;
  }
  for (const char* stale : {"FINESCO", "SR_OUT"}) {
    const std::string path = JobFilePath(ctx, stale, slot);
    const Status removed = fs.Exists(path) ? fs.Remove(path) : Status::Ok();
    if (!removed.ok()) ctx.platform.notifier.Log(removed.Explain("Impossibile cancellare " + ShownPath(ctx, path)));
  }
  const Status written = WriteErrorFile(ctx, answer, slot);
  if (!written.ok()) {
    // Without its error file the start file stays, and nothing stands in for
    // the answer (FINESCO least of all): tried again from the polling timer.
    if (!same) {
      const std::string path = JobFilePath(ctx, "SR_ERR", slot);
      ctx.platform.notifier.Log(written.Explain("File di esito non scritto: risposta conservata, porta COM" +
                                                std::to_string(slot) + ", " + answer + " (" + ShownPath(ctx, path) +
                                                ")"));
      AppendJobLog(ctx, written.Explain(RenameLogText(path)));
      ShowStatus(ctx, written.Explain(kStatusResultNotWritten));
    }
    kept = PendingAnswer{true, answer, identity, command};
    return;
  }
  kept = PendingAnswer{};
  ctx.job.currentSlot = static_cast<int16_t>(slot);
  DeleteStartFile(ctx);
  RecordJobStage(ctx, slot, JobStage::kDone, identity, command, outcome);
}

bool AnswerStartFileOfEndedJob(AppContext& ctx, int slot, const FileInfo& start) {
  if (!ValidSlot(slot) || start.kind != FileKind::kRegular) return false;
  const auto& last = ctx.journal.slots[slot - 1];
  if (!last || last->stage != JobStage::kDone || last->startIdentity == start.identity) return false;
  const JournalEntry ended = *last;
  const bool printed = ended.outcome == JobOutcomeClass::kPrinted;
  if (!printed && ended.outcome != JobOutcomeClass::kUncertain) return false;
  FileSystem& fs = ctx.platform.fs;
  const std::string errPath = JobFilePath(ctx, "SR_ERR", slot);
  const FileInfo command = fs.Inspect(JobFilePath(ctx, "SR_DATI", slot));
  // Its own command file, untouched: the start file asks for that job again.
  const bool ownCommand =
      command.kind == FileKind::kRegular && !ended.commandIdentity.empty() && command.identity == ended.commandIdentity;
  // No command file, and the printed job's result still as it left it: the
  // start file came back (written in pieces, touched) after its job ended.
  const bool printedResultStays = printed && command.kind == FileKind::kMissing &&
                                  fs.Inspect(JobFilePath(ctx, "FINESCO", slot)).kind == FileKind::kRegular &&
                                  fs.Inspect(errPath).kind == FileKind::kMissing;
  if (!ownCommand && !printedResultStays) return false;

  ctx.job.currentSlot = static_cast<int16_t>(slot);
  if (!printed) {
    WriteErrorFile(ctx, kErrUncertain, slot);
  } else if (ownCommand) {
    DeleteErrorFile(ctx);
    DeleteCommandFile(ctx);
  }
  // The start file goes only with its result in place (FINESCO is written
  // by its deletion when no error file is left); else it waits, never run.
  const bool answerInPlace = printed ? !fs.Exists(errPath) : fs.Exists(errPath);
  if (!answerInPlace) return true;
  DeleteStartFile(ctx);
  if (printed && !fs.Exists(JobFilePath(ctx, "FINESCO", slot))) return true;
  RecordJobStage(ctx, slot, JobStage::kDone, start.identity, ended.commandIdentity, ended.outcome);
  const std::string text = "File di avvio riscritto dopo la fine del lavoro sulla porta COM" + std::to_string(slot) +
                           ": lavoro non ripetuto, esito invariato (" + (printed ? "stampato" : "E520") + ")";
  ctx.platform.notifier.Log(text);
  AppendJobLog(ctx, text);
  return true;
}

bool AnswerStillPending(AppContext& ctx, int slot) {
  if (!ValidSlot(slot) || !ctx.job.pendingAnswers[slot - 1].any) return false;
  const PendingAnswer kept = ctx.job.pendingAnswers[slot - 1];
  if (!JobFileIs(ctx, "SR_START", slot, kept.startIdentity)) {
    ctx.job.pendingAnswers[slot - 1] = PendingAnswer{};
    const std::string text = "Lavoro ritirato dal programma chiamante, porta COM" + std::to_string(slot) +
                             ", risposta non scritta " + kept.text;
    ctx.platform.notifier.Log(text);
    AppendJobLog(ctx, text);
    return false;
  }
  AnswerJobWithError(ctx, slot, kept.text);
  if (ctx.job.pendingAnswers[slot - 1].any) return true;
  ctx.platform.notifier.Log("Risposta conservata scritta, porta COM" + std::to_string(slot) + ", " + kept.text);
  return false;
}

Status ClearStaleResultFiles(AppContext& ctx, int slot) {
  if (!ValidSlot(slot)) return Status::Failed("no port " + std::to_string(slot));
  FileSystem& fs = ctx.platform.fs;
  Status cleared;
  for (const char* stale : {"FINESCO", "SR_OUT", "SR_ERR"}) {
    const std::string path = JobFilePath(ctx, stale, slot);
    if (fs.Inspect(path).kind == FileKind::kMissing) continue;
    const Status removed = fs.Remove(path);
    if (cleared.ok()) cleared = removed;
  }
  return cleared;
}

bool JobFileIs(AppContext& ctx, const std::string& base, int slot, const std::string& identity) {
  const FileInfo info = ctx.platform.fs.Inspect(JobFilePath(ctx, base, slot));
  return info.kind != FileKind::kMissing && info.identity == identity;
}

bool StartFileAnswered(const AppContext& ctx, int slot, const FileInfo& start) {
  if (!ValidSlot(slot) || start.kind == FileKind::kMissing) return false;
  const auto& entry = ctx.journal.slots[slot - 1];
  return entry && entry->stage == JobStage::kDone && entry->startIdentity == start.identity;
}

void DeleteErrorFile(AppContext& ctx) { KillJobFile(ctx, "SR_ERR", "Errore nella Kill di SR_ERR"); }
void DeleteOutputFile(AppContext& ctx) { KillJobFile(ctx, "SR_OUT", "Errore nella Kill di SR_OUT"); }
void DeleteCommandFile(AppContext& ctx) {
  KillJobFile(ctx, "SR_DATI", "Errore nella Kill di SR_DATI");
}

Status DeleteStartFile(AppContext& ctx) {
  const int slot = ctx.job.currentSlot;
  if (!ValidSlot(slot)) return Status::Ok();
  FileSystem& fs = ctx.platform.fs;
  const std::string start = JobFilePath(ctx, "SR_START", slot);
  if (!fs.Exists(start)) return Status::Ok();
  // The result file comes first, so that it is there the moment the
  // calling application sees the start file go.
  if (!fs.Exists(JobFilePath(ctx, "SR_ERR", slot))) {
    const std::string finesco = JobFilePath(ctx, "FINESCO", slot);
    // Without its result file the start file stays: the calling application
    // would read a job without FINESCO or SR_ERR as lost. The caller tries
    // again later.
    const Status written = WriteFileAtomically(ctx, finesco, "finesco");
    if (!written.ok()) return written;
  }
  KillRun run(ctx, "Errore nella Kill di SR_START");
  run.Step([&] { return fs.Exists(start) ? fs.Remove(start) : Status::Ok(); });
  return Status::Ok();
}

}  // namespace kolibra
