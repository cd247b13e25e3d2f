// The job journal: for each slot, the start file of the job it last ran and
// how far that job got. It is kept in the settings folder and rewritten
// before each change, so that a job is never run twice (not even when its
// start file cannot be deleted) and a restart can tell a job that was
// interrupted on the link from one that never started.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/operator_state.h"

namespace kolibra {

struct AppContext;

enum class JobStage {
  kStarted,     // the job was taken and may have sent lines
  kTenderSent,  // a payment line may have reached the ECR: the receipt may be closed
  kDone,        // its result files are written
};

struct JournalEntry {
  JobStage stage = JobStage::kStarted;
  std::string startIdentity;  // FileInfo::identity of the start file
};

struct JobJournal {
  std::array<std::optional<JournalEntry>, kSlotCount> slots;
  // The file existed but could not be read as a journal: every job it may
  // have recorded counts as interrupted.
  bool unreadable = false;
};

// Name of the journal file in the settings folder.
inline constexpr const char* kJournalFileName = "KBJOURNAL.TXT";

// Reads the journal of the settings folder into ctx.cycle.journal.
void LoadJournal(AppContext& ctx);
// Records the stage of slot's job and rewrites the journal file.
void RecordJobStage(AppContext& ctx, int slot, JobStage stage, const std::string& startIdentity);

// The journal's text and its reading, apart from the file.
std::string JournalText(const JobJournal& journal);
JobJournal ParseJournal(const std::string& text);

}  // namespace kolibra
