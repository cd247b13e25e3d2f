// The job journal: for each slot, the start and command files of the job it
// last ran and how far that job got. It is kept in the data folder beside its
// lock, so that every driver serving the folder finds it, readable only by the
// driver's user, and rewritten whole (temporary file, flush, rename) at each
// change: a job starts only once its record is on the disk, it is never run
// twice (not even when its start file cannot be deleted), and a restart can
// tell a job that was interrupted on the link from one that never started.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/driver_settings.h"
#include "platform/status.h"

namespace kolibra {

struct AppContext;

enum class JobStage {
  kStarted,     // the job was taken and may have sent lines
  kTenderSent,  // a payment line may have reached the ECR: the receipt may be closed
  kDone,        // its result files are written
};

// What an ended job's result files say: printed (FINESCO), uncertain (E520)
// or not printed (any other error); unknown before its end and in records of
// older versions.
enum class JobOutcomeClass { kUnknown, kPrinted, kUncertain, kFailed };

struct JournalEntry {
  JobStage stage = JobStage::kStarted;
  std::string startIdentity;    // FileInfo::identity of the start file
  std::string commandIdentity;  // ... and of the command file (empty in old records)
  JobOutcomeClass outcome = JobOutcomeClass::kUnknown;  // of a job that is done
};

struct JobJournal {
  std::array<std::optional<JournalEntry>, kSlotCount> slots;
  // The file existed but could not be read as a journal: every job it may
  // have recorded counts as interrupted.
  bool unreadable = false;
  // No journal was found at start-up: a job may have run and its record be
  // lost with the file, so every waiting job counts as interrupted too.
  bool missing = false;
  // The journal of an older version, read from the settings folder because
  // the data folder had none; removed once the data folder's is written.
  std::string oldFile;
};

// Name of the journal file in the data folder (older versions kept it in the
// settings folder).
inline constexpr const char* kJournalFileName = "KBJOURNAL.TXT";

// Reads the journal of the data folder into ctx.journal, or the one an
// older version left in the settings folder when the data folder has none.
void LoadJournal(AppContext& ctx);
// Writes ctx.journal to the data folder (and then drops an older
// version's file). Fails when it could not be written.
Status WriteJournal(AppContext& ctx);
// Records the stage of slot's job and rewrites the journal file. An empty
// commandIdentity keeps the one recorded for the same start file. Fails when
// the file could not be written (logged with the reason once until a write
// succeeds); a "started" record that could not be written is not kept, the
// others are.
Status RecordJobStage(AppContext& ctx, int slot, JobStage stage, const std::string& startIdentity,
                    const std::string& commandIdentity = {},
                    JobOutcomeClass outcome = JobOutcomeClass::kUnknown);

// The journal's text and its reading, apart from the file.
std::string JournalText(const JobJournal& journal);
JobJournal ParseJournal(const std::string& text);

}  // namespace kolibra
