// The polling cycle on the virtual clock, and the operator's test receipt through it.
#include "app/job_cycle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "app_rig.h"
#include "core/folder_scan.h"
#include "core/messages.h"
#include "ui/operator_actions.h"
#include "ui/operator_window.h"
#include "ui/window_facts.h"

namespace kolibra {
namespace {

using testing_app::AppRig;

const char kE502[] = "E502: Nessuna porta di comunicazione disponibile\r\n";
const char kPaidSale[] = "SALE,N1,P1000;\r\nTEND,N1;\r\n";

// Times of the reset command " K" on the port: one per job or dump.
std::vector<int64_t> ResetTimes(const fakes::FakeSerialPort& port) {
  std::vector<int64_t> out;
  for (std::size_t i = 0; i < port.writes.size(); ++i)
    if (port.writes[i] == " K") out.push_back(port.writeTimes[i]);
  return out;
}

// Slot 3 is unticked and slot 4 has no port: their jobs are answered once with E502, never run.
TEST(JobCycle, LowerSlotFirstThenPauseTickThenTheNextAndE502WithoutAPort) {
  AppRig r{1, 2, 4};
  r.ctx.cycle.portAvailable[3] = false;
  for (int s : {4, 3, 2, 1}) r.PutJob(s);
  r.StartPolling(5000);

  ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START", 1); }, 20000));
  const int64_t firstDone = r.fp.loop.NowMs();
  EXPECT_TRUE(r.Has("SR_START", 2));
  EXPECT_EQ(r.Read("FINESCO", 1), "finesco");

  ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START", 2); }, 40000));
  EXPECT_EQ(r.Read("FINESCO", 2), "finesco");
  EXPECT_EQ(r.ctx.cycle.tickCounter, 2);  // the pause tick does not count
  r.RunUntil(60000);
  const std::vector<int64_t> resets = ResetTimes(r.fp.serial);
  ASSERT_EQ(resets.size(), 2u);
  EXPECT_EQ(resets[0], 5000);
  // A pause tick of 1000 ms, then a polling interval of 5000 ms.
  EXPECT_GT(resets[1], firstDone + 5990);
  EXPECT_LE(resets[1], firstDone + 6000);
  for (int s : {3, 4}) {
    EXPECT_FALSE(r.Has("SR_START", s) || r.Has("FINESCO", s));
    EXPECT_TRUE(r.Has("SR_DATI", s));
    EXPECT_EQ(r.Read("SR_ERR", s), kE502);
  }
  // Idle, a tick lists the folder once and looks at no missing start file by name (under Wine each such look
  // reads the folder twice). What the folder's path names is checked every kFolderCheckMs only, yet a folder
  // put in place of the locked one (its lock lost) is still noticed while idle.
  r.fp.fs.inspections.clear();
  r.fp.fs.findNamesCalls = r.fp.fs.existsCalls = r.fp.system.lockChecks = 0;
  r.RunUntil(120000);
  EXPECT_TRUE(r.fp.fs.inspections.empty()) << r.fp.fs.inspections.begin()->first;
  EXPECT_EQ(r.fp.fs.findNamesCalls, 12);
  EXPECT_EQ(r.fp.fs.existsCalls, 0);  // the listing names the serial-number files too
  EXPECT_EQ(r.fp.system.lockChecks, 6);
  r.fp.system.dataLockState = DataLockState::kLost;
  r.RunUntil(120000 + kFolderCheckMs + 5000);
  EXPECT_EQ(r.ctx.state.status, kDataLockLost + r.data.path());
  r.fp.system.dataLockState = DataLockState::kHeld;
  // No usable port at all: E502 to every slot on every tick, job or not.
  r.ctx.cycle.portAvailable.fill(false);
  for (int64_t tick : {140000, 145000}) {
    for (int s = 1; s <= 4; ++s) std::filesystem::remove(r.File("SR_ERR", s));
    r.RunUntil(tick);
    for (int s = 1; s <= 4; ++s) EXPECT_EQ(r.Read("SR_ERR", s), kE502) << s;
  }
}

// A start file that cannot be deleted after its job never runs it again; the slot waits until it goes.
TEST(JobCycle, SlotDumpedBeforeItsJobThatRunsOnceThoughItsStartFileStays) {
  AppRig r{1};
  r.fp.serial.responder = [&](const std::string& bytes) {
    r.fp.serial.QueueInput(10, bytes == "48F" ? "48F0" : bytes == "41F" ? "41F12345678" : bytes);
  };
  r.PutJob();
  std::filesystem::remove(r.File("SR_MATR"));
  r.Put("SR_OUT", "stale");
  r.Put("FINESCO", "stale");  // would be read as this job's success
  r.fp.fs.FailRemove(r.File("SR_START"), -1);
  r.StartPolling(1000);

  r.RunUntil(1000);  // the first tick runs the dump only, and the pause tick follows
  EXPECT_TRUE(r.Has("SR_MATR") && r.Has("SR_START"));
  EXPECT_EQ(ResetTimes(r.fp.serial).size(), 1u);
  EXPECT_EQ(r.ctx.cycle.pauseMarker, PauseMarker::kAfterDump);
  EXPECT_TRUE(PollTimerEnabled(r.ctx) && PollTimerInterval(r.ctx) == 1000);

  r.RunUntil(30000);
  EXPECT_EQ(ResetTimes(r.fp.serial).size(), 2u);
  EXPECT_EQ(r.Read("FINESCO"), "finesco");
  EXPECT_EQ(r.Read("SR_OUT"), "");  // the stale one went before the job
  EXPECT_FALSE(r.Has("SR_ERR"));
  r.fp.fs.FailRemove(r.File("SR_START"), 0);
  r.RunUntil(32000);
  EXPECT_FALSE(r.Has("SR_START"));
  r.PutJob();
  r.RunUntil(45000);
  EXPECT_EQ(r.Sent("1000H1R"), 2);
}

// A missing command file, or a job file that is no plain file: E506 once, nothing sent; polling goes on.
TEST(JobCycle, MissingOrNoPlainJobFileEndsItsJobWithE506) {
  enum Kind { kNoCommandFile, kStartFolder, kCommandFifo, kCommandLink };
  for (Kind kind : {kNoCommandFile, kStartFolder, kCommandFifo, kCommandLink}) {
    SCOPED_TRACE(kind);
    AppRig r{1};
    r.PutJob();
    const std::string start = r.File("SR_START"), dati = r.File("SR_DATI");
    if (kind != kStartFolder) std::filesystem::remove(dati);
    if (kind == kStartFolder) {
      std::filesystem::remove(start);
      std::filesystem::create_directories(start + "/inside");
    } else if (kind != kNoCommandFile) {
#ifndef _WIN32
      r.Put("target", "SALE,N1,P1000;\r\n");
      if (kind == kCommandLink) std::filesystem::create_symlink(r.File("target"), dati);
      else ASSERT_EQ(mkfifo(dati.c_str(), 0600), 0);
#else
      continue;  // the Windows C++ library makes no FIFOs or symbolic links
#endif
    }
    r.StartPolling(1000);
    r.RunUntil(1000);
    if (kind == kNoCommandFile) {
      EXPECT_TRUE(r.fp.serial.writes.empty());
      EXPECT_FALSE(r.ctx.cycle.jobBusy || r.Has("SR_START"));
    }
    r.RunUntil(30000);
    EXPECT_EQ(r.fp.loop.TimerInterval(r.ctx.cycle.pollTimer), 1000);
    EXPECT_EQ(r.Sent("1000H1R"), 0);
    EXPECT_EQ(r.Read("SR_ERR"), "E506: Trasmissione non avvenuta: file di input non presente\r\n");
    EXPECT_FALSE(r.Has("FINESCO"));
  }
}

// A job withdrawn while it runs (its start file deleted, the next job written): the next job runs next,
// once. A start file written again beside the job's own command file (completed in place after it was
// taken, or renamed in) is this job's: it gets the job's result and never runs it again.
TEST(JobCycle, WithdrawnJobLeavesTheNextJobToRun) {
  enum Since { kNextJob, kCompletedInPlace, kRenamedIn };
  for (Since since : {kNextJob, kCompletedInPlace, kRenamedIn}) {
    SCOPED_TRACE(since);
    const bool nextJob = since == kNextJob;
    AppRig r{1};
    r.PutJob();
    if (since == kCompletedInPlace) r.Put("SR_START", "");
    r.fp.loop.Schedule(1001, [&r, since] {
      if (since == kCompletedInPlace) return r.Put("SR_START", "1\r\n");
      if (since == kRenamedIn) {
        fakes::WriteFileBytes(r.data.File("start.tmp"), "1\r\n");
        return std::filesystem::rename(r.data.File("start.tmp"), r.File("SR_START"));
      }
      std::filesystem::remove(r.File("SR_START"));
      r.Put("SR_DATI", "SALE,N1,P2000;\r\n");
      r.Put("SR_START", "2\r\n");
    });
    r.StartPolling(1000);
    r.RunUntil(1500);
    EXPECT_EQ(r.Sent("1000H1R"), 1);
    EXPECT_EQ(r.LogsWith("Lavoro ritirato"), nextJob ? 1 : 0);

    ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START"); }, 10000));
    r.RunUntil(15000);
    EXPECT_EQ(r.Sent("1000H1R"), 1);
    EXPECT_EQ(r.Sent("2000H1R"), nextJob ? 1 : 0);
    EXPECT_EQ(r.Read("FINESCO"), "finesco");
    EXPECT_FALSE(r.Has("SR_DATI"));
  }
}

// A start file written again after its job ended. Printed: its results stay and nothing runs again,
// whether no command file is there or its own one could not be deleted. Uncertain: its own command file
// gets E520 again, also from the shutdown. A plain failure runs again. A printed job's FINESCO already
// taken, or a new command file, make the start file a new job (E506, or run).
TEST(JobCycle, StartFileWrittenAgainAfterItsJobEnded) {
  const std::string e506 = "E506: Trasmissione non avvenuta: file di input non presente\r\n",
                    e520 = std::string(kErrUncertain) + "\r\n", reply = "\x02" "05-12-2026 09-41ABCDEFG  12-0345ZZ\x03";
  enum Ending { kPrinted, kUncertain, kNoAnswer };
  enum Then { kStartOnly, kOwnCommandLeft, kResultsTaken, kNewCommand, kShutDown, kFolderFirst };
  const struct { const char* name; Ending ending; Then then; long runs; std::string err; } cases[] = {
      {"printed", kPrinted, kStartOnly, 1, ""},
      {"printed, its command file left", kPrinted, kOwnCommandLeft, 1, ""},
      {"printed, its results taken", kPrinted, kResultsTaken, 1, e506},
      {"printed, a new command file", kPrinted, kNewCommand, 2, ""},
      {"uncertain", kUncertain, kStartOnly, 1, e520},
      {"uncertain, then shut down", kUncertain, kShutDown, 1, e520},
      // A folder as start file is answered E506; the command file is still the uncertain one.
      {"uncertain, a folder first", kUncertain, kFolderFirst, 1, e520},
      {"no answer", kNoAnswer, kStartOnly, 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AppRig r{1};
    // The first run ends as the case says; a run after it prints.
    r.fp.serial.responder = [&r, &c, &reply](const std::string& bytes) {
      const bool first = r.Sent("1000H1R") == 1;
      if (first && c.ending == kNoAnswer && bytes == "1000H1R") return;
      r.fp.serial.QueueInput(10, bytes);
      if (bytes == "1T" && !(first && c.ending == kUncertain)) r.fp.serial.QueueInput(50, reply);
    };
    r.PutJob(1, kPaidSale);
    if (c.then == kOwnCommandLeft) r.fp.fs.FailRemove(r.File("SR_DATI"), 20);  // the job gives it up
    r.StartPolling(1000);
    ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START"); }, 120000));
    const std::string out = r.Read("SR_OUT");
    EXPECT_EQ(r.Has("FINESCO"), c.ending == kPrinted);
    EXPECT_EQ(r.Has("SR_DATI"), c.ending != kPrinted || c.then == kOwnCommandLeft);

    if (c.then == kResultsTaken) {
      std::filesystem::remove(r.File("FINESCO"));
      std::filesystem::remove(r.File("SR_OUT"));
    }
    if (c.then == kNewCommand) r.Put("SR_DATI", kPaidSale);
    if (c.then == kFolderFirst) {
      std::filesystem::create_directory(r.File("SR_START"));
      ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START"); }, r.fp.loop.NowMs() + 5000));
      EXPECT_EQ(r.Read("SR_ERR"), e506);
    }
    r.Put("SR_START", "2\r\n");
    if (c.then == kShutDown) ShutDown(r.ctx);
    ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START"); }, r.fp.loop.NowMs() + 60000));
    r.RunUntil(r.fp.loop.NowMs() + 5000);
    EXPECT_EQ(r.Sent("1000H1R"), c.runs);
    EXPECT_EQ(r.Read("SR_ERR"), c.err);
    EXPECT_EQ(r.Has("FINESCO"), c.err.empty());
    if (c.ending == kPrinted && c.runs == 1 && c.err.empty()) {
      EXPECT_EQ(r.Read("SR_OUT"), out);
      EXPECT_EQ(out.substr(0, 5), "TIME,");
      EXPECT_FALSE(r.Has("SR_DATI"));
    }
    EXPECT_EQ(r.LogsWith("lavoro non ripetuto"), c.runs == 1 && c.err != e506 ? 1 : 0);
    const auto& last = r.ctx.journal.slots[0];
    ASSERT_TRUE(last);
    EXPECT_EQ(last->outcome, c.err == e520 ? JobOutcomeClass::kUncertain
                             : c.err.empty()   ? JobOutcomeClass::kPrinted
                                               : JobOutcomeClass::kFailed);
  }
}

// A job waits, said once in the log and shown, while an earlier result file cannot go, the journal
// cannot record its start or the data folder's lock is lost; it runs on the first tick after.
TEST(JobCycle, JobWaitsWhileItCannotRunSafely) {
  enum Cause { kStaleFinesco, kStaleOut, kStaleErr, kJournal, kLock };
  for (Cause cause : {kStaleFinesco, kStaleOut, kStaleErr, kJournal, kLock}) {
    SCOPED_TRACE(cause);
    AppRig r{1};
    r.PutJob();
    const char* stale = cause == kStaleFinesco ? "FINESCO" : cause == kStaleOut ? "SR_OUT" : "SR_ERR";
    const std::string journal = r.data.File("KBJOURNAL.TXT"), dir = r.data.path();
    // The system's reason follows the log line and the status.
    std::string status = kStatusStaleResult + std::string(": Permission denied"),
                log = "non cancellabile sulla porta COM1: lavoro in attesa: Permission denied";
    if (cause <= kStaleErr) {
      r.Put(stale, "old\r\n");
      r.fp.fs.FailRemove(r.File(stale), -1);
    } else if (cause == kJournal) {
      r.fp.fs.FailReplace(journal, -1, "Disk quota exceeded");
      status = kStatusJournalNotWritten + std::string(": Disk quota exceeded");
      log = "Impossibile scrivere " + journal + ": Disk quota exceeded";
    } else {
      r.fp.system.dataLockState = DataLockState::kLost;
      status = kDataLockLost + dir;
      log = "Stato: " + status;
    }
    r.StartPolling(1000);
    r.RunUntil(3500);
    EXPECT_TRUE(r.fp.serial.writes.empty());
    EXPECT_TRUE(r.Has("SR_START"));
    EXPECT_EQ(r.ctx.state.status, status);
    EXPECT_EQ(r.LogsWith(log), 1);

    if (cause <= kStaleErr) r.fp.fs.FailRemove(r.File(stale), 0);
    if (cause == kJournal) r.fp.fs.FailReplace(journal, 0);
    if (cause == kLock) r.fp.system.dataLockState = DataLockState::kRetaken;
    r.RunUntil(4500);
    EXPECT_EQ(ResetTimes(r.fp.serial).size(), 1u);
    EXPECT_EQ(r.LogsWith(kDataLockRetaken + dir), cause == kLock ? 1 : 0);
    ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START"); }, 10000));
    EXPECT_EQ(r.Read("FINESCO"), "finesco");
    EXPECT_FALSE(r.Has("SR_ERR"));
    EXPECT_EQ(fakes::ReadFileBytes(journal).substr(0, 7), "1,done,");
  }
}

// The data folder renamed during the job, a new one in its place or none: the results and journal record go to
// the folder it came from. Not held: the outcome is kept, written once the folder is back, before the start
// file goes. Removed: the outcome is dropped, said once. Never run again; polling goes on.
TEST(JobCycle, JobFilesStayInTheFolderTheJobCameFrom) {
  enum Change { kRenamed, kReplaced, kNotHeld, kRemoved };
  const struct { const char* name; Change change; bool ok; } cases[] = {
      {"renamed", kRenamed, true},   {"renamed, E504", kRenamed, false}, {"replaced", kReplaced, true},
      {"not held", kNotHeld, true}, {"not held, E504", kNotHeld, false}, {"removed", kRemoved, true}};
  for (const auto& c : cases) {
#ifdef _WIN32
    if (c.change != kNotHeld) continue;  // a held folder can be neither renamed nor removed there
#endif
    SCOPED_TRACE(c.name);
    AppRig r{1};
    r.PutJob();
    r.fp.fs.refuseHold = c.change == kNotHeld;
    const std::string dir = r.data.path(), away = dir + ".away";
    const auto inAway = [&](const char* name) { return fakes::ReadFileBytes(JoinPath(away, name)); };
    // The folder goes after the sale line (a silent ECR: after the reset).
    bool changed = false;
    r.fp.serial.responder = [&](const std::string& bytes) {
      if (c.ok) r.fp.serial.QueueInput(10, bytes);
      if ((bytes != "1000H1R" && c.ok) || std::exchange(changed, true)) return;
      if (c.change == kRemoved) return (void)std::filesystem::remove_all(dir);
      std::filesystem::rename(dir, away);
      if (c.change == kReplaced && std::filesystem::create_directory(dir)) r.Put("SR_MATR", "m");  // no dump there
    };
    r.fp.loop.Schedule(60000, [&] {
      if (c.change == kRemoved) return (void)(std::filesystem::create_directory(dir), r.PutJob());
      std::filesystem::remove_all(dir);
      std::filesystem::rename(away, dir);
    });
    r.StartPolling(1000);
    r.RunUntil(59000);
    EXPECT_EQ(r.ctx.outcome.pending.any, c.change == kNotHeld);
    if (c.change == kNotHeld) {
      EXPECT_EQ(r.ctx.state.status, kStatusOutcomeKept);
      EXPECT_EQ(inAway("SR_START.001"), "1\r\n");
    } else if (c.change != kRemoved) {
      EXPECT_EQ(inAway(c.ok ? "FINESCO.001" : "SR_ERR.001"), c.ok ? "finesco" : std::string(kErrNoAnswer) + "\r\n");
      EXPECT_EQ(inAway("KBJOURNAL.TXT").substr(0, 7), "1,done,");
      EXPECT_EQ(std::filesystem::exists(JoinPath(away, "SR_OUT.001")), c.ok);
      EXPECT_EQ(std::filesystem::exists(JoinPath(away, "SR_DATI.001")), !c.ok);
      EXPECT_FALSE(std::filesystem::exists(JoinPath(away, "SR_START.001")));
      for (const char* name : {"FINESCO.001", "SR_ERR.001", "SR_OUT.001", "SR_START.001", "KBJOURNAL.TXT"})
        EXPECT_FALSE(std::filesystem::exists(JoinPath(dir, name))) << name;
    }
    const std::size_t resets = ResetTimes(r.fp.serial).size();
    r.RunUntil(62000);
    EXPECT_FALSE(r.Has("SR_START"));
    EXPECT_EQ(r.Has("FINESCO"), c.ok);
    EXPECT_EQ(r.Has("SR_ERR"), !c.ok);
    EXPECT_EQ(r.Has("SR_DATI"), !c.ok);
    EXPECT_EQ(r.Sent("1000H1R"), c.ok ? (c.change == kRemoved ? 2 : 1) : 0);  // the next job, never this one again
    EXPECT_EQ(ResetTimes(r.fp.serial).size(), resets + (c.change == kRemoved ? 1 : 0));
    EXPECT_EQ(r.LogsWith("esito conservato"), c.change == kNotHeld ? 1 : 0);
    EXPECT_EQ(r.LogsWith("Cartella del lavoro eliminata durante il lavoro: esito non scritto, porta COM1, esito "
                         "TUTTO OK"), c.change == kRemoved ? 1 : 0);
    EXPECT_EQ(r.LogsWith("Cartella dati non trovata: " + dir), c.change == kReplaced ? 0 : 1);
    EXPECT_EQ(r.LogsWith("Cartella dati di nuovo disponibile: " + dir), c.change == kReplaced ? 0 : 1);
  }
}

// A result file that cannot be written (something in the way, a full disk): the outcome is kept, never replaced
// by another result file, written from the ticks one attempt each; the start file stays, the job never runs
// again. Folders under the temporary names of old are no obstacle. Said once and shown.
TEST(JobCycle, ResultFileThatCannotBeWrittenKeepsTheOutcome) {
  enum Fault { kErrorFile, kFinesco, kOutputOnFullDisk };
  const char* const kBases[] = {"SR_ERR", "FINESCO", "SR_OUT"};  // by fault
  const std::string kCauses[] = {"Permission denied", "Read-only file system", "No space left on device"};
  for (Fault fault : {kErrorFile, kFinesco, kOutputOnFullDisk}) {
    SCOPED_TRACE(fault);
    AppRig r{1};
    r.PutJob(1, kPaidSale);
    for (const char* base : kBases)
      std::filesystem::create_directory(JoinPath(r.data.path(), "~KB" + JobFileName(base, 1) + ".tmp"));
    const bool printed = fault != kErrorFile;
    r.fp.serial.responder = [&](const std::string& bytes) {
      if (!printed) return;  // a silent ECR: E504
      r.fp.serial.QueueInput(10, bytes);
      if (bytes != "1T") return;
      r.fp.serial.QueueInput(50, "\x02" "05-12-2026 09-41ABCDEFG  12-0345ZZ\x03");
      if (fault == kOutputOnFullDisk) r.fp.fs.FailFlush(3);
    };
    if (fault != kOutputOnFullDisk) r.fp.fs.FailReplace(r.File(kBases[fault]), 4, kCauses[fault]);
    r.StartPolling(1000);
    ASSERT_TRUE(r.RunUntilTrue([&] { return r.ctx.cycle.counts.jobs == 1; }, 60000));
    EXPECT_TRUE(r.ctx.outcome.pending.any);
    EXPECT_TRUE(r.Has("SR_START"));
    EXPECT_FALSE(r.Has("FINESCO") || r.Has("SR_ERR"));
    EXPECT_EQ(r.Has("SR_OUT"), fault == kFinesco);  // put in place at the sending's end
    EXPECT_EQ(r.ctx.state.status, kStatusResultNotWritten + (": " + kCauses[fault]));
    const std::size_t resets = ResetTimes(r.fp.serial).size();
    const int64_t end = r.fp.loop.NowMs();
    ASSERT_TRUE(r.RunUntilTrue([&] { return !r.ctx.outcome.pending.any; }, end + 20000));
    EXPECT_GE(r.fp.loop.NowMs(), end + 2000);  // from the ticks, not a blocking wait
    EXPECT_FALSE(r.Has("SR_START"));
    EXPECT_EQ(r.Has("FINESCO"), printed);
    EXPECT_EQ(r.Read("SR_ERR"), printed ? "" : std::string(kErrNoAnswer) + "\r\n");
    EXPECT_EQ(r.Read("SR_OUT"), printed ? "TIME,CASS. 1 09:41 CASSA   1 ,E,A1;\r\nDATE,05/12/26  SCONTR. N. 0345,E,A1;\r\n" : "");
    EXPECT_EQ(r.Has("SR_DATI"), !printed);
    r.RunUntil(r.fp.loop.NowMs() + 5000);
    EXPECT_EQ(ResetTimes(r.fp.serial).size(), resets);  // not run again
    EXPECT_EQ(r.LogsWith("File di esito non scritto: esito conservato"), 1);
    EXPECT_EQ(r.LogsWith(JobFileName(kBases[fault], 1) + "): " + kCauses[fault]), 1);
    EXPECT_EQ(r.LogsWith("Esito conservato scritto"), 1);
    const std::string logLine = std::string("Errore nella Rename di ") + kBases[fault] + ": " + kCauses[fault] + "\r\n";
    EXPECT_NE(fakes::ReadFileBytes(r.data.File("LOGFILE.TXT")).find(logLine), std::string::npos);
    for (const auto& e : std::filesystem::directory_iterator(r.data.path()))
      EXPECT_TRUE(!e.path().filename().string().starts_with("~KB") || e.is_directory()) << e.path();
  }
}

// An answer given at start-up (E520: the journal saw the job start) whose error file cannot be
// written is kept: never FINESCO instead, the job never run, the answer written from a later tick.
TEST(JobCycle, AnswerKeptUntilItsErrorFileIsWritten) {
  AppRig r;
  r.AnswerDumps();
  r.PutSetting("KBCHKSCO.TXT", "0\r\n0\r\n0\r\n0\r\n127.0.0.1\r\n");
  r.PutSetting("KBCHKCOM.TXT", "1000\r\n");
  fakes::WriteFileBytes(JoinPath(r.data.path(), "KBJOURNAL.TXT"), "1,started,an earlier start file\r\n");
  r.PutJob();
  r.fp.fs.FailReplace(r.File("SR_ERR"), 3, "Input/output error");
  ASSERT_EQ(StartDriver(r.ctx, r.Options()), StartResult::kStarted);
  EXPECT_TRUE(r.Has("SR_START"));
  EXPECT_FALSE(r.Has("FINESCO") || r.Has("SR_ERR"));
  EXPECT_EQ(r.ctx.state.status, kStatusResultNotWritten + std::string(": Input/output error"));
  EXPECT_EQ(r.LogsWith("SR_ERR.001): Input/output error"), 1);
  EXPECT_NE(fakes::ReadFileBytes(r.data.File("LOGFILE.TXT")).find("Errore nella Rename di SR_ERR: Input/output error"),
            std::string::npos);
  ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START"); }, 30000));
  EXPECT_EQ(r.Read("SR_ERR"), std::string(kErrUncertain) + "\r\n");
  EXPECT_FALSE(r.Has("FINESCO"));
  EXPECT_EQ(r.Read("SR_DATI"), "SALE,N1,P1000;\r\n");
  r.RunUntil(r.fp.loop.NowMs() + 5000);
  EXPECT_EQ(r.Sent("1000H1R"), 0);
  EXPECT_EQ(r.LogsWith("risposta conservata"), 1);
  EXPECT_EQ(r.LogsWith("Risposta conservata scritta"), 1);
}

// The data folder watched from the first tick (polling 5 s): a reported start file runs its job at once,
// as a tick of its own, or when the pause after a running job ends. Other changes (own files, a storm,
// start files seen before) or none wait for the tick.
TEST(JobCycle, AReportedStartFileRunsItsJobAtOnce) {
  const std::vector<std::string> ownFiles = {"FINESCO.001", "SR_OUT.001", "SR_ERR.001", "XON.txt",
                                             "~KBSR_OUT.001.tmp", "KBJOURNAL.TXT", "LOGFILE.TXT"};
  // With the job put on slot 1 at 7000, or while slot 2's job runs (5005) or in the pause after it (5500).
  enum Event {
    kNamed = 1, kNameless = 2, kEmptyStart = 4, kStorm = 8, kEnd = 16, kLockRetaken = 32, kRefused = 64,
    kDuringJob = 128, kDuringPause = 256
  };
  // reset: of slot 1's job; 0: when the pause after slot 2's job ends.
  const struct { const char* name; int events; int64_t reset; std::size_t watchStarts; } cases[] = {
      {"named", kNamed, 7000, 1},
      // Names unknown: the pass waits until the start file stays the same; an empty one is left to the tick.
      {"nameless", kNameless, 7010, 1},
      {"nameless, empty", kEmptyStart | kNameless, 10000, 1},
      {"own files and a storm", kStorm, 10000, 1},
      // Ended (the folder went away): watched again from the next tick.
      {"ended", kEnd | kNamed, 10000, 2},
      // The path names another folder, now locked: that one is watched.
      {"lock retaken", kLockRetaken | kNamed, 7000, 2},
      {"refused", kRefused | kNamed, 10000, 1},
      {"during a job", kDuringJob | kNamed, 0, 1},
      {"during its pause", kDuringPause | kNamed, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AppRig r{1, 2};
    r.Put("SR_MATR", "m");
    // Slot 2's job runs at the first tick, or waits all along (an old result file that cannot go).
    r.PutJob(2);
    r.Put("SR_OUT", "old", 2);
    const bool busy = c.events & (kDuringJob | kDuringPause);
    if (!busy) r.fp.fs.FailRemove(r.File("SR_OUT", 2), -1);
    int64_t slot2JobEnd = 0;
    r.fp.fs.beforeRemove = [&](const std::string& path) {
      if (path == r.File("SR_START", 2)) slot2JobEnd = r.fp.loop.NowMs();
    };
    r.fp.folderWatch.refuse = c.events & kRefused;
    r.fp.loop.Schedule(c.events & kDuringJob ? 5005 : busy ? 5500 : 7000, [&] {
      r.PutJob();
      if (c.events & kEmptyStart) r.Put("SR_START", "");
      for (int i = 0; i < (c.events & kStorm ? 100 : 0); ++i) r.fp.folderWatch.Raise(ownFiles);
      if (c.events & kEnd) r.fp.folderWatch.End();
      if (c.events & kLockRetaken) {
        r.fp.system.dataLockState = DataLockState::kRetaken;
        r.fp.loop.After(1, [&r] { r.fp.system.dataLockState = DataLockState::kHeld; });
      }
      if (c.events & kNamed) r.fp.folderWatch.Raise({"SR_START.001"});
      if (c.events & kNameless) r.fp.folderWatch.RaiseNameless();
    });
    // A start file the last tick saw, still waiting, is not new.
    r.fp.loop.Schedule(6000, [&] {
      r.fp.folderWatch.Raise({"SR_START.002"});
      r.fp.folderWatch.RaiseNameless();
    });
    r.StartPolling(5000);
    r.RunUntil(12000);
    const std::vector<int64_t> resets = busy ? std::vector<int64_t>{5000, slot2JobEnd + 1000} : std::vector{c.reset};
    EXPECT_EQ(ResetTimes(r.fp.serial), resets);
    EXPECT_EQ(r.Read("FINESCO"), "finesco");
    EXPECT_EQ(r.ctx.cycle.tickCounter, 2);
    EXPECT_EQ(r.fp.folderWatch.started.size(), c.watchStarts);
    EXPECT_EQ(r.LogsWith(kFolderWatchRefused), (c.events & kRefused) ? 1 : 0);
  }
}

// Refused (nothing written, no flag left) with no dump, a hidden window, no data folder or a till's job waiting
// (start file, or a command file no failed job left). A till job written over it runs converted, never the
// test line; written during the reset, it runs next.
TEST(OperatorWindow, TestReceiptNeverReplacesATillJobNorSendsOneUnconverted) {
  // The window on the screen, minimized to the tray, or never shown: the same.
  enum Case {
    kNoDump, kNoFolder, kStartFile, kNewCommandFile,  // refused
    kWritten, kMinimized, kNeverShown, kFailedJobsCommandFile, kTillJobOver, kTillCommandFileOver,
    kTillJobDuringTheReset
  };
  const char* const kRefusals[] = {"DUMP NON ANCORA ESEGUITO", "Scontrino di prova non scritto nella cartella dati",
                                   kTestReceiptJobWaiting, kTestReceiptJobWaiting};
  const std::string kLine = "K\"PROVA\"10H1R0M\"PROVA\"10H1R=1T", kTillJob = "SALE,N1,P1000;\r\n";
  for (int c = kNoDump; c <= kTillJobDuringTheReset; ++c) {
    SCOPED_TRACE(c);
    // Slots 1 and 3 dumped, 4 unticked, the polling timer off; the payment line has a reply.
    AppRig r;
    r.fp.serial.responder = [&r](const std::string& bytes) {
      r.fp.serial.QueueInput(10, bytes);
      if (bytes.ends_with("1T")) r.fp.serial.QueueInput(50, "\x02" "05-12-2026 09-41ABCDEFG  12-0345ZZ\x03");
    };
    r.StartPolling(1000);
    r.ctx.cycleEvents->SlotSwitched(false);  // the polling stopped
    r.ctx.settings.slotOn[3] = false;
    if (c != kNeverShown) RestoreWindow(r.ctx);
    r.ctx.dump.pending = {false, true, false, true};
    for (int s : {1, 3}) r.Put("SR_MATR", "m", s);
    if (c == kNoDump) r.ctx.dump.pending.fill(true);
    if (c == kMinimized) MinimizeWindow(r.ctx);
    if (c == kNoFolder) r.ctx.dataDir = JoinPath(r.data.path(), "gone");
    if (c == kStartFile || c == kNewCommandFile || c == kFailedJobsCommandFile) r.Put("SR_DATI", kTillJob, 3);
    if (c == kStartFile) r.Put("SR_START", "1\r\n", 3);
    if (c == kFailedJobsCommandFile)
      r.ctx.journal.slots[2] = {JobStage::kDone, "gone", r.fp.fs.Inspect(r.File("SR_DATI", 3)).identity};
    const ActionResult pressed = PressTestButton(r.ctx);
    EXPECT_EQ(pressed.accepted, c >= kWritten);
    if (c < kWritten) {
      EXPECT_EQ(pressed.text, kRefusals[c]);
      EXPECT_EQ(r.ctx.state.ecrMessage == "DUMP NON ANCORA ESEGUITO", c == kNoDump);
      EXPECT_EQ(r.ctx.state.ecrMessage == kTestReceiptJobWaiting, c >= kStartFile);
      for (int s : {1, 2, 4}) EXPECT_FALSE(r.Has("SR_DATI", s) || r.Has("SR_START", s));
      EXPECT_EQ(r.Read("SR_DATI", 3), c >= kStartFile ? kTillJob : "");
      EXPECT_EQ(r.Has("SR_START", 3), c == kStartFile);
      EXPECT_EQ(r.ctx.cycle.testFiles.slot, 0);
      EXPECT_TRUE(Window(r.ctx).testReceiptReady);
      continue;
    }
    EXPECT_EQ(r.Read("SR_DATI", 3), kLine + "\r\n");
    EXPECT_TRUE(r.Has("SR_START", 3));
    EXPECT_FALSE(Window(r.ctx).testReceiptReady);
    const bool tillJob = c >= kTillJobOver;
    const auto tillWrites = [&r, c, &kTillJob] {
      r.Put("SR_DATI", kTillJob, 3);
      if (c != kTillCommandFileOver) r.Put("SR_START", "1\r\n", 3);
    };
    if (c == kTillJobDuringTheReset) {
      r.fp.serial.responder = [&r, tillWrites, done = false](const std::string& bytes) mutable {
        if (bytes == " K" && r.ctx.cycle.jobBusy && !std::exchange(done, true)) tillWrites();
        r.fp.serial.QueueInput(10, bytes);
      };
    } else if (tillJob) {
      tillWrites();
    }
    r.fp.loop.Wait(r.fp.loop.NowMs() + 1000);  // the next tick spends the flag
    if (c == kTillJobDuringTheReset) {
      EXPECT_EQ(r.fp.serial.writes.back(), " K");  // the reset, nothing after it
      EXPECT_FALSE(r.Has("FINESCO", 3) || r.Has("SR_ERR", 3));
      EXPECT_EQ(r.Read("SR_DATI", 3), kTillJob);
      r.RunUntil(r.fp.loop.NowMs() + 3000);
    }
    EXPECT_EQ(r.fp.serial.portNumber, 3);
    EXPECT_EQ(r.Sent(kLine), tillJob ? 0 : 1);
    EXPECT_EQ(r.Sent("1000H1R"), tillJob ? 1 : 0);
    EXPECT_FALSE(r.Sent("SALE,N1,P1000;"));
    // The job's end: the last job, the pause tick, the test button and the tray idle again.
    EXPECT_TRUE(Window(r.ctx).testReceiptReady);
    EXPECT_FALSE(Window(r.ctx).jobAnnounced || r.ctx.cycle.jobBusy);
    EXPECT_EQ(r.ctx.cycle.lastJob.slot, 3);
    EXPECT_EQ(r.ctx.cycle.counts.printed, 1);
    if (c != kTillJobDuringTheReset) {
      EXPECT_EQ(r.ctx.cycle.pauseMarker, PauseMarker::kAfterJob);
      EXPECT_TRUE(PollTimerEnabled(r.ctx) && PollTimerInterval(r.ctx) == 1000);
    }
    EXPECT_EQ(r.ctx.job.testReceipt, 0);
    EXPECT_EQ(r.ctx.cycle.testFiles.slot, 0);
    EXPECT_EQ(r.ctx.state.status, "KOLIBRA TERMINATO : TUTTO OK");
    EXPECT_EQ(r.Read("FINESCO", 3), "finesco");
    EXPECT_FALSE(r.Has("SR_DATI", 3) || r.Has("SR_START", 3));
  }
}

}  // namespace
}  // namespace kolibra
