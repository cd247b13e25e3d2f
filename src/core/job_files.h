// Names of the job files of a port slot and the operations on them that every
// subsystem shares.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "core/app_context.h"
#include "core/owned_file.h"
#include "platform/file_writes.h"
#include "platform/status.h"

namespace kolibra {

// "SR_START.001" and so on, for slot 1..4.
std::string JobFileName(const std::string& base, int slot);
// The job's folder (JobFolderPath) + the slot's job file.
std::string JobFilePath(const AppContext& ctx, const std::string& base, int slot);

// Deletes data directory + name if it exists; ignores every error.
void DeleteIfPresent(AppContext& ctx, const std::string& name);

// Writes a job file the calling application reads (error, end-of-receipt,
// serial-number file) as a new file: whatever had the name, a planted link
// included, is replaced and never written through.
Status WriteFreshFile(AppContext& ctx, const std::string& path, std::string_view bytes);

// CreateTemporaryFile() into file (the driver's temporary names); fails
// with the last name's reason when none could be created.
Status CreateTemporaryFor(AppContext& ctx, const std::string& path, OwnedFile& file, std::string& temporary,
                          FileAccess access = FileAccess::kShared);

// Removes the plain files of folder named as TemporaryNameFor() names them:
// what an earlier run left behind. Nothing else is touched.
void ClearTemporaryLeftovers(AppContext& ctx, const std::string& folder);

// WriteFileAtomically() on the context's file system, under the driver's
// temporary names: a reader finds no file, the old one or the whole new one,
// never a part. Fails with the first failed step's reason (the temporary
// file is then removed).
Status WriteFileAtomically(AppContext& ctx, const std::string& path, std::string_view bytes,
                           FileAccess access = FileAccess::kShared);

// Writes a result file the calling application reads (SR_ERR, SR_MATR)
// with WriteFileAtomically(), one attempt: the caller keeps what could not
// be written and tries again later (from the polling timer), never in a
// blocking loop.
Status WriteResultFile(AppContext& ctx, const std::string& path, std::string_view bytes);

// The LOGFILE.TXT line of a result file that could not be written:
// "Errore nella Rename di" + the file's name without its extension.
std::string RenameLogText(const std::string& path);

// Writes ctx.link.outputBytes (the receipt's records, SR_OUT) into file,
// opened by CreateTemporaryFor(path) under ctx.link.outputTemporary, flushes
// and closes it and renames it into place, one attempt. Fails when nothing
// was open or a step failed: the temporary file is then removed and
// ctx.link.outputUnplaced set, for the job's outcome to write the records
// whole later (they stay in ctx.link.outputBytes).
Status CloseResultFile(AppContext& ctx, OwnedFile& file, const std::string& path);

// Writes text + CR LF as the only line of the slot's SR_ERR file.
Status WriteErrorFile(AppContext& ctx, const std::string& text, int slot);

// These act on the current port slot, retrying a failed step every 500 ms
// and logging to LOGFILE.TXT (the text, ": " and the failure's reason) from
// the 20th failure on.
void DeleteErrorFile(AppContext& ctx);
void DeleteOutputFile(AppContext& ctx);
void DeleteCommandFile(AppContext& ctx);
// Writes FINESCO ("finesco", renamed into place) when no error file exists,
// then deletes the start file; a start file whose result file could not be
// written stays (one attempt: that failure then).
Status DeleteStartFile(AppContext& ctx);

// Deletes the slot's result files of an earlier job (FINESCO, SR_OUT,
// SR_ERR), one attempt each. Fails (the first one's reason) when one is left:
// a job run now could not be reported unambiguously.
Status ClearStaleResultFiles(AppContext& ctx, int slot);

// True when the slot's job file is the file of that identity (a file gone
// or written since is not).
bool JobFileIs(AppContext& ctx, const std::string& base, int slot, const std::string& identity);

// Ends the slot's waiting job without running it: stale result files of an
// earlier job go, the error file gets text, the start file goes (the command
// file stays) and the journal records the start file as answered. An error
// file that cannot be written leaves the start file and keeps the answer
// for AnswerStillPending() (an answer already kept for the same start file
// stands: it is not changed into another).
void AnswerJobWithError(AppContext& ctx, int slot, const std::string& text);

// Tries again to write the answer kept for slot's start file; one whose
// start file went or was replaced is dropped (withdrawn, logged). True while
// the answer is still kept: the slot's start file must not run.
bool AnswerStillPending(AppContext& ctx, int slot);

// True when the journal says slot's start file (as inspected now) belongs to
// a job that has already ended: it must not run again.
bool StartFileAnswered(const AppContext& ctx, int slot, const FileInfo& start);

// A start file written again after the slot's last job ended, when that job
// printed or is uncertain (E520) and either its own command file is still
// there untouched, or (printed) no command file is there and its FINESCO is,
// without SR_ERR: the command file is not run again. The start file is
// answered with that job's outcome (E520 written again; FINESCO and SR_OUT
// left as they are) and goes, recorded as answered. True when the start file
// was taken so (it may stay while its result cannot be put in place).
bool AnswerStartFileOfEndedJob(AppContext& ctx, int slot, const FileInfo& start);

// Appends "<date> <time> <text>" (CR LF) to LOGFILE.TXT in the data directory.
// Appends "<date> <time> <text>" (CR LF) to LOGFILE.TXT in the job's folder.
void AppendJobLog(AppContext& ctx, const std::string& text);

// The folder of the job whose own files are being handled: the folder held
// for it while a JobFolderScope lives, else the data directory.
const std::string& JobFolderPath(const AppContext& ctx);

// A path as the operator is shown it: one through the job's held folder is
// shown with the data directory's path.
std::string ShownPath(const AppContext& ctx, const std::string& path);

// Holds the data directory for a job taken from it; nullptr when it cannot
// be held (the job's files are then reached by the data directory's path).
std::shared_ptr<HeldFolder> HoldDataFolder(AppContext& ctx);

// While it lives, JobFilePath(), AppendJobLog() and the journal reach the
// files through folder (none: through the data directory's path); polling
// outside it keeps to the data directory's path.
class JobFolderScope {
 public:
  JobFolderScope(AppContext& ctx, std::shared_ptr<HeldFolder> folder)
      : ctx_(ctx), previous_(std::exchange(ctx.job.jobFolder, std::move(folder))) {}
  ~JobFolderScope() { ctx_.job.jobFolder = std::move(previous_); }
  JobFolderScope(const JobFolderScope&) = delete;
  JobFolderScope& operator=(const JobFolderScope&) = delete;

 private:
  AppContext& ctx_;
  std::shared_ptr<HeldFolder> previous_;
};

}  // namespace kolibra
