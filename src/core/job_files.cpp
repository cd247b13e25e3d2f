#include "core/job_files.h"

#include <cstdio>
#include <functional>
#include <utility>

#include "core/file_util.h"
#include "core/job_journal.h"
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
// every failure is logged and the step is given up.
class KillRun {
 public:
  KillRun(AppContext& ctx, std::string logText) : ctx_(ctx), logText_(std::move(logText)) {}

  // True once the step succeeded, false when it was given up.
  bool Step(const std::function<bool()>& attempt) {
    while (!attempt()) {
      ++failures_;
      if (failures_ >= kKillFailureLimit) {
        AppendJobLog(ctx_, logText_);
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
  const int slot = ctx.cycle.currentSlot;
  if (!ValidSlot(slot)) return;
  const std::string path = JobFilePath(ctx, base, slot);
  KillRun run(ctx, logText);
  run.Step([&] { return !ctx.platform.fs.Exists(path) || ctx.platform.fs.Remove(path); });
}

// "Errore nella Rename di SR_MATR" for data directory + "\SR_MATR.001".
std::string RenameLogText(const std::string& path) {
  const std::size_t sep = path.find_last_of("/\\");
  std::string name = sep == std::string::npos ? path : path.substr(sep + 1);
  name = name.substr(0, name.find('.'));
  return "Errore nella Rename di " + name;
}

}  // namespace

std::string JobFileName(const std::string& base, int slot) {
  return base + ".00" + std::to_string(slot);
}

std::string JobFilePath(const AppContext& ctx, const std::string& base, int slot) {
  return JoinPath(JobFolderPath(ctx), JobFileName(base, slot));
}

const std::string& JobFolderPath(const AppContext& ctx) {
  return ctx.cycle.jobFolder ? ctx.cycle.jobFolder->Path() : ctx.dataDir;
}

std::string ShownPath(const AppContext& ctx, const std::string& path) {
  const std::string& folder = JobFolderPath(ctx);
  if (folder == ctx.dataDir || !path.starts_with(folder)) return path;
  return ctx.dataDir + path.substr(folder.size());
}

std::shared_ptr<HeldFolder> HoldDataFolder(AppContext& ctx) { return ctx.platform.fs.HoldFolder(ctx.dataDir); }

void DeleteIfPresent(AppContext& ctx, const std::string& name) {
  // Callers may pass the name with its leading separator ("\SR_START.001").
  std::string bare = name;
  while (!bare.empty() && (bare.front() == '\\' || bare.front() == '/')) bare.erase(0, 1);
  if (bare.empty()) return;
  const std::string path = JoinPath(ctx.dataDir, bare);
  if (ctx.platform.fs.Exists(path)) ctx.platform.fs.Remove(path);
}

bool WriteFreshFile(AppContext& ctx, const std::string& path, std::string_view bytes) {
  OwnedFile file;
  file.Adopt(ctx.platform.fs.CreateFresh(path));
  return file.IsOpen() && file.WriteAll(bytes);
}

std::string TemporaryNameFor(const std::string& path) {
  const std::size_t sep = path.find_last_of("/\\");
  const std::size_t base = sep == std::string::npos ? 0 : sep + 1;
  return path.substr(0, base) + "~KB" + path.substr(base) + ".tmp";
}

bool WriteFileAtomically(AppContext& ctx, const std::string& path, std::string_view bytes,
                         FileAccess access) {
  FileSystem& fs = ctx.platform.fs;
  const std::string temporary = TemporaryNameFor(path);
  OwnedFile file;
  file.Adopt(fs.CreateFresh(temporary, access));
  bool ok = file.IsOpen() && file.Write(bytes) && fs.FlushToDisk(file.get());
  file.Close();
  ok = ok && fs.ReplaceWith(temporary, path);
  if (!ok) fs.Remove(temporary);
  return ok;
}

bool WriteResultFile(AppContext& ctx, const std::string& path, std::string_view bytes) {
  KillRun run(ctx, RenameLogText(path));
  return run.Step([&] { return WriteFileAtomically(ctx, path, bytes); });
}

bool CloseResultFile(AppContext& ctx, OwnedFile& file, const std::string& path) {
  if (!file.IsOpen()) return false;
  FileSystem& fs = ctx.platform.fs;
  const bool flushed = fs.FlushToDisk(file.get());
  file.Close();
  const std::string temporary = TemporaryNameFor(path);
  KillRun run(ctx, RenameLogText(path));
  if (flushed && run.Step([&] { return fs.ReplaceWith(temporary, path); })) return true;
  if (flushed) {
    ctx.link.outputUnplaced = true;
  } else {
    fs.Remove(temporary);
  }
  return false;
}

void WriteErrorFile(AppContext& ctx, const std::string& text, int slot) {
  if (!ValidSlot(slot)) return;
  // The whole path is used, however long the data directory's name is.
  const std::string path = JobFilePath(ctx, "SR_ERR", slot);
  if (!WriteResultFile(ctx, path, text + "\r\n")) {
    ctx.platform.notifier.Log("Impossibile scrivere " + ShownPath(ctx, path) + ": " + text);
  }
}

void AppendJobLog(AppContext& ctx, const std::string& text) {
  const std::string path = JoinPath(JobFolderPath(ctx), "LOGFILE.TXT");
  const std::string line = LogStamp(ctx.platform.loop.LocalTime()) + " " + text + "\r\n";
  if (!ctx.platform.fs.AppendToPlainFile(path, line)) ctx.platform.notifier.Log(text);
}

void AnswerJobWithError(AppContext& ctx, int slot, const std::string& text) {
  if (!ValidSlot(slot)) return;
  FileSystem& fs = ctx.platform.fs;
  const std::string identity = fs.Inspect(JobFilePath(ctx, "SR_START", slot)).identity;
  const std::string command = fs.Inspect(JobFilePath(ctx, "SR_DATI", slot)).identity;
  for (const char* stale : {"FINESCO", "SR_OUT"}) {
    const std::string path = JobFilePath(ctx, stale, slot);
    if (fs.Exists(path) && !fs.Remove(path)) {
      ctx.platform.notifier.Log("Impossibile cancellare " + ShownPath(ctx, path));
    }
  }
  WriteErrorFile(ctx, text, slot);
  ctx.cycle.currentSlot = static_cast<int16_t>(slot);
  DeleteStartFile(ctx);
  RecordJobStage(ctx, slot, JobStage::kDone, identity, command);
}

bool ClearStaleResultFiles(AppContext& ctx, int slot) {
  if (!ValidSlot(slot)) return false;
  FileSystem& fs = ctx.platform.fs;
  bool cleared = true;
  for (const char* stale : {"FINESCO", "SR_OUT", "SR_ERR"}) {
    const std::string path = JobFilePath(ctx, stale, slot);
    if (fs.Inspect(path).kind != FileKind::kMissing && !fs.Remove(path)) cleared = false;
  }
  return cleared;
}

bool JobFileIs(AppContext& ctx, const std::string& base, int slot, const std::string& identity) {
  const FileInfo info = ctx.platform.fs.Inspect(JobFilePath(ctx, base, slot));
  return info.kind != FileKind::kMissing && info.identity == identity;
}

bool StartFileAnswered(const AppContext& ctx, int slot, const FileInfo& start) {
  if (!ValidSlot(slot) || start.kind == FileKind::kMissing) return false;
  const auto& entry = ctx.cycle.journal.slots[slot - 1];
  return entry && entry->stage == JobStage::kDone && entry->startIdentity == start.identity;
}

void DeleteErrorFile(AppContext& ctx) { KillJobFile(ctx, "SR_ERR", "Errore nella Kill di SR_ERR"); }
void DeleteOutputFile(AppContext& ctx) { KillJobFile(ctx, "SR_OUT", "Errore nella Kill di SR_OUT"); }
void DeleteCommandFile(AppContext& ctx) {
  KillJobFile(ctx, "SR_DATI", "Errore nella Kill di SR_DATI");
}

void DeleteStartFile(AppContext& ctx) {
  const int slot = ctx.cycle.currentSlot;
  if (!ValidSlot(slot)) return;
  FileSystem& fs = ctx.platform.fs;
  const std::string start = JobFilePath(ctx, "SR_START", slot);
  if (!fs.Exists(start)) return;
  // The result file comes first, so that it is there the moment the
  // calling application sees the start file go.
  KillRun run(ctx, "Errore nella Kill di SR_START");
  if (!fs.Exists(JobFilePath(ctx, "SR_ERR", slot))) {
    const std::string finesco = JobFilePath(ctx, "FINESCO", slot);
    // Without its result file the start file stays: the calling application
    // would read a job without FINESCO or SR_ERR as lost.
    if (!run.Step([&] { return WriteFileAtomically(ctx, finesco, "finesco"); })) return;
  }
  run.Step([&] { return !fs.Exists(start) || fs.Remove(start); });
}

}  // namespace kolibra
