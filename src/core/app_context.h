// The application context: every piece of state that lives for the whole
// process, owned in one place and passed by reference.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "core/cycle_events.h"
#include "core/driver_settings.h"
#include "core/driver_state.h"
#include "core/dump_state.h"
#include "core/job_journal.h"
#include "core/job_result.h"
#include "core/link_state.h"
#include "platform/platform.h"

namespace kolibra {

// The pause the polling timer takes after a job or a dump: one tick of
// 1000 ms that polls nothing, then the polling interval again.
enum class PauseMarker : int16_t { kNone = 0, kAfterDump = 1, kAfterJob = 2 };

// The last job that ran to its outcome, as the operator is told of it.
struct LastJob {
  bool any = false;
  int16_t slot = 0;
  JobResult code = JobResult::kOk;
  CivilTime endedAt;  // local time
};

// The start and command files the test-receipt button wrote, as they were
// when written: the flag applies only to a job of that slot whose files are
// still these.
struct TestReceiptFiles {
  int16_t slot = 0;  // 0: no test receipt pending
  std::string startIdentity;
  std::string commandIdentity;
};

// The outcome of a job whose result files could not be written yet (the data
// folder was gone at the job's end, a full disk, something in the way of a
// result file): kept until they are.
struct PendingOutcome {
  bool any = false;
  int16_t slot = 0;
  JobResult code = JobResult::kOk;
  std::string startIdentity;
  std::string commandIdentity;
  // SR_OUT's path when it still has to be written (placed before the result
  // file), with its bytes below.
  std::string unplacedOutput;
  std::string unplacedBytes;
  // The folder the job came from, held: its result files go there.
  std::shared_ptr<HeldFolder> folder;
};

// An answer (SR_ERR text) for a slot's job that was not run, kept while its
// error file cannot be written; the start file stays meanwhile.
struct PendingAnswer {
  bool any = false;
  std::string text;
  std::string startIdentity;
  std::string commandIdentity;
};

// The watch on the data folder that lets a job start as soon as its start
// file appears, between the polling ticks.
struct FolderWatchState {
  bool armed = false;    // watching the folder the driver has locked
  bool refused = false;  // that folder cannot be watched: polling alone (logged)
  // A start file changed while no early pass could run (a job or a dump
  // running, the pause after them): looked at when the pause ends.
  bool pending = false;
  // Identities of the start files, slot by slot, as the last polling pass
  // found them ("" when missing): only a start file not among them is new.
  std::array<std::string, kSlotCount> seenStarts{};
  // A change without names waits until the start files stay the same for a
  // moment (one may still be written): the timer and what it last found.
  EventLoop::TimerId settleTimer = -1;
  std::array<std::string, kSlotCount> settling{};
  // When the polling last checked what the data folder's path names (-1:
  // never); see FolderCheckDue().
  int64_t checkedAtMs = -1;
};

// What the jobs since start-up came to: printed (FINESCO), failed (SR_ERR,
// by result code) and uncertain (E520: check before resending).
struct JobCounts {
  int64_t jobs = 0;
  int64_t printed = 0;
  int64_t uncertain = 0;
  std::map<int, int64_t> failedByCode;
};

// The job cycle: the polling, the pause after a job or a dump, the job and
// shutdown flags. Written only by the job cycle of the app; the other parts
// read it and tell the cycle what happened (CycleEvents, or by returning to
// the cycle that called them).
struct JobCycleState {
  int32_t pollingIntervalMs = 1000;
  int16_t tickCounter = 0;
  PauseMarker pauseMarker = PauseMarker::kNone;
  bool jobBusy = false;
  bool closing = false;           // the window is being unloaded
  std::array<bool, kSlotCount> portAvailable{};
  TestReceiptFiles testFiles;
  EventLoop::TimerId pollTimer = -1;  // polling timer
  bool dataDirMissing = false;    // the data directory vanished (logged once)
  bool dataLockLost = false;      // its path no longer names the locked folder (logged once)
  bool shutdownRequested = false; // a termination request waits to be served
  bool ended = false;             // shutdown has run; the main loop stops
  LastJob lastJob;
  CivilTime jobStartedAt;         // local time the running job started
  JobCounts counts;
  // A start file that was answered but could not be deleted has been logged.
  std::array<bool, kSlotCount> stuckStartLogged{};
  // A job kept waiting because a stale result file cannot be deleted has
  // been logged, per slot.
  std::array<bool, kSlotCount> staleResultLogged{};
  FolderWatchState watch;
};

// The job (or dump) the link serves, its files, and the answers kept for
// jobs that were not run: written by the parts that serve it (the cycle,
// the run, the link, the dump, the job files).
struct JobState {
  int16_t currentSlot = 1;        // 1..4
  std::string commandPath;        // current SR_DATI.00n
  int16_t testReceipt = 0;        // the job now running is the test receipt
  std::string resetCommand = " K";
  std::string startIdentity;      // identity of the running job's start file
  std::string commandIdentity;    // ... and of its command file, taken at its start
  int32_t jobLinesSent = 0;       // command lines of the running job the ECR took
  std::array<PendingAnswer, kSlotCount> pendingAnswers{};
  // The folder of the job whose own files are being handled (see
  // JobFolderScope); none: the data folder's path.
  std::shared_ptr<HeldFolder> jobFolder;
};

// The outcome of a job kept until its result files are written (see
// DeliverPendingOutcome); written by the outcome alone.
struct OutcomeState {
  PendingOutcome pending;
  bool keptLogged = false;        // the kept outcome has been logged
};

// What the operator window keeps of its own (ui/window_facts.h): whether it
// is watched, its blink, the tray announcement, the test button. Only the
// window layer sees inside it.
struct WindowFacts;

// The driver as a whole: its folders, what the operator chose, what it
// reports, and the state of its job cycle, link and dump. What a window
// shows of it is derived from it by the window's own code.
struct AppContext {
  explicit AppContext(Platform& p) : platform(p) {}

  Platform& platform;
  std::string dataDir;            // no trailing separator
  std::string defaultDataDir;
  std::string settingsDir;
  DriverSettings settings;
  DriverState state;
  int16_t tenderLineCount = 0;    // raised by the conversion, counted down by SendJobLines
  JobCycleState cycle;
  JobState job;
  JobJournal journal;
  bool journalWriteLogged = false;  // a journal that cannot be written has been logged
  OutcomeState outcome;
  LinkState link;
  DumpState dump;
  // Told by the operator's actions; installed by the job cycle.
  std::unique_ptr<CycleEvents> cycleEvents;
  // Created by the window layer when first used.
  std::shared_ptr<WindowFacts> window;
};

}  // namespace kolibra
