#include "core/job_journal.h"

#include "core/app_context.h"
#include "core/job_files.h"

namespace kolibra {

namespace {

struct StageName {
  JobStage stage;
  const char* name;
};
constexpr StageName kStageNames[] = {
    {JobStage::kStarted, "started"}, {JobStage::kTenderSent, "tender-sent"}, {JobStage::kDone, "done"}};

std::optional<JobStage> StageFromName(const std::string& name) {
  for (const StageName& s : kStageNames) {
    if (name == s.name) return s.stage;
  }
  return std::nullopt;
}

const char* NameOf(JobStage stage) {
  for (const StageName& s : kStageNames) {
    if (s.stage == stage) return s.name;
  }
  return "started";
}

struct OutcomeName {
  JobOutcomeClass outcome;
  const char* name;
};
constexpr OutcomeName kOutcomeNames[] = {{JobOutcomeClass::kPrinted, "printed"},
                                         {JobOutcomeClass::kUncertain, "uncertain"},
                                         {JobOutcomeClass::kFailed, "failed"}};

// An unknown name reads as unknown: the record stays usable.
JobOutcomeClass OutcomeFromName(const std::string& name) {
  for (const OutcomeName& o : kOutcomeNames) {
    if (name == o.name) return o.outcome;
  }
  return JobOutcomeClass::kUnknown;
}

const char* NameOf(JobOutcomeClass outcome) {
  for (const OutcomeName& o : kOutcomeNames) {
    if (o.outcome == outcome) return o.name;
  }
  return "";
}

// Journal files are a few lines; anything longer is not one.
constexpr std::size_t kJournalReadLimit = 4096;

}  // namespace

std::string JournalText(const JobJournal& journal) {
  std::string text;
  for (int n = 1; n <= kSlotCount; ++n) {
    const auto& entry = journal.slots[n - 1];
    if (!entry) continue;
    text += std::to_string(n) + "," + NameOf(entry->stage) + "," + entry->startIdentity;
    const std::string outcome = NameOf(entry->outcome);
    if (!entry->commandIdentity.empty() || !outcome.empty()) text += "," + entry->commandIdentity;
    if (!outcome.empty()) text += "," + outcome;
    text += "\r\n";
  }
  return text;
}

// One line per slot: "<slot>,<stage>,<start file identity>[,<command file
// identity>[,<outcome>]]" (identities hold no comma; the outcome, "printed",
// "uncertain" or "failed", only for a job that is done; older versions wrote
// no outcome, the oldest no command file identity).
JobJournal ParseJournal(const std::string& text) {
  JobJournal journal;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::size_t c1 = line.find(',');
    const std::size_t c2 = c1 == std::string::npos ? c1 : line.find(',', c1 + 1);
    const std::optional<JobStage> stage =
        c2 == std::string::npos ? std::nullopt : StageFromName(line.substr(c1 + 1, c2 - c1 - 1));
    const int slot = c1 == 1 ? line[0] - '0' : 0;
    if (!stage || slot < 1 || slot > kSlotCount) {
      journal.unreadable = true;
      continue;
    }
    const std::size_t c3 = line.find(',', c2 + 1);
    const std::size_t c4 = c3 == std::string::npos ? c3 : line.find(',', c3 + 1);
    journal.slots[slot - 1] =
        c3 == std::string::npos
            ? JournalEntry{*stage, line.substr(c2 + 1), ""}
            : JournalEntry{*stage, line.substr(c2 + 1, c3 - c2 - 1), line.substr(c3 + 1, c4 - c3 - 1),
                           c4 == std::string::npos ? JobOutcomeClass::kUnknown
                                                   : OutcomeFromName(line.substr(c4 + 1))};
  }
  return journal;
}

namespace {

// Reads one journal file; a link, folder, FIFO or device under its name is
// never followed or waited on: it is an unreadable journal (why: the
// system's reason, when it gave one).
JobJournal ReadJournalFile(AppContext& ctx, const std::string& path, Status* why = nullptr) {
  JobJournal journal;
  ReadResult read = ctx.platform.fs.ReadRegularFile(path, kJournalReadLimit);
  if (why != nullptr) *why = read.error;
  switch (read.status) {
    case ReadStatus::kOk: journal = ParseJournal(read.bytes); break;
    case ReadStatus::kMissing: journal.missing = true; break;
    default: journal.unreadable = true; break;
  }
  return journal;
}

// The journal goes with the job's folder: a job's records stay in the folder it came from.
std::string JournalPath(const AppContext& ctx) { return JoinPath(JobFolderPath(ctx), kJournalFileName); }

}  // namespace

void LoadJournal(AppContext& ctx) {
  const std::string path = JournalPath(ctx);
  Status why;
  JobJournal journal = ReadJournalFile(ctx, path, &why);
  const std::string oldPath = JoinPath(ctx.settingsDir, kJournalFileName);
  if (journal.missing && !ctx.settingsDir.empty() && oldPath != path) {
    JobJournal old = ReadJournalFile(ctx, oldPath, &why);
    if (!old.missing) {
      journal = std::move(old);
      journal.oldFile = oldPath;
    }
  }
  ctx.journal = std::move(journal);
  if (ctx.journal.unreadable) {
    ctx.platform.notifier.Log(why.Explain("Giornale dei lavori illeggibile: " + path));
  } else if (ctx.journal.missing) {
    ctx.platform.notifier.Log("Giornale dei lavori non trovato: " + path);
  }
}

namespace {

Status WriteJournalText(AppContext& ctx, const JobJournal& journal) {
  const std::string path = JournalPath(ctx);
  const Status written = WriteFileAtomically(ctx, path, JournalText(journal), FileAccess::kOwnerOnly);
  if (written.ok()) {
    ctx.journalWriteLogged = false;
  } else if (!ctx.journalWriteLogged) {
    ctx.journalWriteLogged = true;
    ctx.platform.notifier.Log(written.Explain("Impossibile scrivere " + ShownPath(ctx, path)));
  }
  return written;
}

}  // namespace

Status WriteJournal(AppContext& ctx) {
  const Status written = WriteJournalText(ctx, ctx.journal);
  if (!written.ok()) return written;
  JobJournal& journal = ctx.journal;
  if (!journal.oldFile.empty() && ctx.platform.fs.Remove(journal.oldFile).ok()) journal.oldFile.clear();
  journal.missing = false;
  journal.unreadable = false;
  return written;
}

Status RecordJobStage(AppContext& ctx, int slot, JobStage stage, const std::string& startIdentity,
                    const std::string& commandIdentity, JobOutcomeClass outcome) {
  if (slot < 1 || slot > kSlotCount) return Status::Failed("no port " + std::to_string(slot));
  JobJournal journal = ctx.journal;
  auto& entry = journal.slots[slot - 1];
  std::string command = commandIdentity;
  if (command.empty() && entry && entry->startIdentity == startIdentity) command = entry->commandIdentity;
  entry = JournalEntry{stage, startIdentity, command, outcome};
  const Status written = WriteJournalText(ctx, journal);
  // A job whose start is not on the disk does not run; any later stage is
  // kept in memory all the same, so that the job never runs again.
  if (written.ok() || stage != JobStage::kStarted) ctx.journal = std::move(journal);
  return written;
}

}  // namespace kolibra
