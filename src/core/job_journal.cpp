#include "core/job_journal.h"

#include "core/app_context.h"
#include "core/file_util.h"

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

// Journal files are a few lines; anything longer is not one.
constexpr std::size_t kJournalReadLimit = 4096;

}  // namespace

std::string JournalText(const JobJournal& journal) {
  std::string text;
  for (int n = 1; n <= kSlotCount; ++n) {
    const auto& entry = journal.slots[n - 1];
    if (!entry) continue;
    text += std::to_string(n) + "," + NameOf(entry->stage) + "," + entry->startIdentity + "\r\n";
  }
  return text;
}

// One line per slot: "<slot>,<stage>,<start file identity>".
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
    journal.slots[slot - 1] = JournalEntry{*stage, line.substr(c2 + 1)};
  }
  return journal;
}

void LoadJournal(AppContext& ctx) {
  const std::string path = JoinPath(ctx.settingsDir, kJournalFileName);
  const std::optional<std::string> text = ReadFileHead(path, kJournalReadLimit + 1);
  if (!text) {
    ctx.cycle.journal = JobJournal{};
    // A journal that exists but cannot be read is not the same as none.
    ctx.cycle.journal.unreadable = ctx.platform.fs.Inspect(path).kind != FileKind::kMissing;
  } else if (text->size() > kJournalReadLimit) {
    ctx.cycle.journal = JobJournal{};
    ctx.cycle.journal.unreadable = true;
  } else {
    ctx.cycle.journal = ParseJournal(*text);
  }
  if (ctx.cycle.journal.unreadable) {
    ctx.platform.notifier.Log("Giornale dei lavori illeggibile: " + path);
  }
}

void RecordJobStage(AppContext& ctx, int slot, JobStage stage, const std::string& startIdentity) {
  if (slot < 1 || slot > kSlotCount) return;
  ctx.cycle.journal.slots[slot - 1] = JournalEntry{stage, startIdentity};
  const std::string path = JoinPath(ctx.settingsDir, kJournalFileName);
  if (!WriteWholeFile(path, JournalText(ctx.cycle.journal))) {
    ctx.platform.notifier.Log("Impossibile scrivere " + path);
  }
}

}  // namespace kolibra
