// The polling cycle on the virtual clock: detection order, the pause tick,
// dumps before jobs, E502/E506, and a data directory that disappears.
#include "app/job_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "app_rig.h"
#include "core/messages.h"

namespace kolibra {
namespace {

using testing_app::AppRig;

// Times of the reset command " K" on the port: one per job or dump.
std::vector<int64_t> ResetTimes(const fakes::FakeSerialPort& port) {
  std::vector<int64_t> out;
  for (std::size_t i = 0; i < port.writes.size(); ++i)
    if (port.writes[i] == " K") out.push_back(port.writeTimes[i]);
  return out;
}

void OnlySlots(AppRig& r, std::initializer_list<int> slots) {
  for (auto& check : r.ctx.ui.slotCheck) check.value = 0;
  for (int s : slots) r.ctx.ui.slotCheck[s - 1].value = 1;
}

void PutJob(AppRig& r, int slot, bool withDati = true) {
  r.Put("SR_MATR", "m", slot);
  if (withDati) r.Put("SR_DATI", "SALE,N1,P1000;\r\n", slot);
  r.Put("SR_START", "1\r\n", slot);
}

// Slot 3 is unticked and slot 4 has no port: their jobs are never examined.
TEST(JobCycle, LowerSlotFirstThenPauseTickThenTheNext) {
  AppRig r;
  OnlySlots(r, {1, 2, 4});
  r.ctx.cycle.portAvailable[3] = false;
  for (int s : {4, 3, 2, 1}) PutJob(r, s);
  r.StartPolling(5000);

  ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START", 1); }, 20000));
  const int64_t firstDone = r.fp.loop.NowMs();
  EXPECT_TRUE(r.Has("SR_START", 2));
  EXPECT_EQ(r.Read("FINESCO", 1), "finesco");
  EXPECT_FALSE(r.Has("SR_DATI", 1));

  ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START", 2); }, 40000));
  EXPECT_EQ(r.Read("FINESCO", 2), "finesco");
  EXPECT_EQ(r.ctx.cycle.tickCounter, 2);  // the pause tick does not count
  r.RunUntil(60000);
  const std::vector<int64_t> resets = ResetTimes(r.fp.serial);
  ASSERT_EQ(resets.size(), 2u);
  EXPECT_EQ(resets[0], 5000);  // the first tick
  // One pause tick of 1000 ms, then one polling interval of 5000 ms.
  EXPECT_GT(resets[1], firstDone + 5990);
  EXPECT_LE(resets[1], firstDone + 6000);
  // Slot 3 is switched off and slot 4 has no port: their jobs are answered
  // once with E502 instead of waiting for ever.
  for (int s : {3, 4}) {
    EXPECT_FALSE(r.Has("SR_START", s) || r.Has("FINESCO", s));
    EXPECT_TRUE(r.Has("SR_DATI", s));
    EXPECT_EQ(r.Read("SR_ERR", s), "E502: Nessuna porta di comunicazione disponibile\r\n");
  }
}

TEST(JobCycle, SlotWithoutSerialNumberFileIsDumpedBeforeItsJobRuns) {
  AppRig r;
  OnlySlots(r, {1});
  r.fp.serial.responder = [&](const std::string& bytes) {
    r.fp.serial.QueueInput(10, bytes == "48F" ? "48F0" : bytes == "41F" ? "41F12345678" : bytes);
  };
  PutJob(r, 1);
  std::filesystem::remove(r.File("SR_MATR"));
  r.Put("SR_OUT", "stale");
  r.Put("FINESCO", "stale");  // would be read as this job's success
  r.StartPolling(1000);

  r.RunUntil(1000);  // the first tick runs the dump only
  EXPECT_TRUE(r.Has("SR_MATR") && r.Has("SR_START"));
  EXPECT_EQ(ResetTimes(r.fp.serial).size(), 1u);

  ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START"); }, 20000));
  EXPECT_EQ(ResetTimes(r.fp.serial).size(), 2u);
  EXPECT_EQ(r.Read("FINESCO"), "finesco");
  EXPECT_EQ(r.Read("SR_OUT"), "");  // the stale one went before the job
}

TEST(JobCycle, E506AndE502LeaveThePollingRunning) {
  AppRig r;
  OnlySlots(r, {3});
  PutJob(r, 3, false);  // start file without its command file
  r.StartPolling(1000);
  r.RunUntil(1000);
  EXPECT_EQ(r.Read("SR_ERR", 3), "E506: Trasmissione non avvenuta: file di input non presente\r\n");
  EXPECT_FALSE(r.Has("SR_START", 3) || r.Has("FINESCO", 3));
  EXPECT_TRUE(r.fp.serial.writes.empty());
  EXPECT_FALSE(r.ctx.cycle.jobBusy);
  EXPECT_EQ(r.fp.loop.TimerInterval(r.ctx.cycle.pollTimer), 1000);

  // No usable port: E502 to every slot on every tick.
  AppRig none;
  none.ctx.cycle.portAvailable.fill(false);
  none.StartPolling(1000);
  for (int tick = 1; tick <= 2; ++tick) {
    none.RunUntil(tick * 1000);
    for (int s = 1; s <= 4; ++s) {
      EXPECT_EQ(none.Read("SR_ERR", s), "E502: Nessuna porta di comunicazione disponibile\r\n") << s;
      std::filesystem::remove(none.File("SR_ERR", s));
    }
  }
}

// A start or command file that is not a plain file (a folder, a FIFO, a
// link) ends its job once with E506; a start file that cannot be deleted
// after its job never runs the job again, and the slot waits until it goes.
TEST(JobCycle, JobFilesThatAreNoPlainFilesOrStayAfterTheJobRunOnce) {
  enum Kind { kStartFolder, kCommandFifo, kCommandLink, kStuckStart };
  for (Kind kind : {kStartFolder, kCommandFifo, kCommandLink, kStuckStart}) {
    SCOPED_TRACE(kind);
    AppRig r;
    OnlySlots(r, {1});
    PutJob(r, 1);
    const std::string start = r.File("SR_START"), dati = r.File("SR_DATI");
    if (kind == kStartFolder) {
      std::filesystem::remove(start);
      std::filesystem::create_directories(start + "/inside");
    } else if (kind == kCommandFifo) {
#ifndef _WIN32
      std::filesystem::remove(dati);
      ASSERT_EQ(mkfifo(dati.c_str(), 0600), 0);
#else
      continue;
#endif
    } else if (kind == kCommandLink) {
#ifndef _WIN32
      r.Put("target", "SALE,N1,P1000;\r\n");
      std::filesystem::remove(dati);
      std::filesystem::create_symlink(r.File("target"), dati);
#else
      continue;  // the Windows C++ library makes no symbolic links
#endif
    } else {
      r.fp.fs.FailRemove(start, -1);
    }
    r.StartPolling(1000);
    r.RunUntil(30000);
    const auto& w = r.fp.serial.writes;
    EXPECT_EQ(std::count(w.begin(), w.end(), "1000H1R"), kind == kStuckStart ? 1 : 0);
    EXPECT_EQ(r.Has("SR_ERR"), kind != kStuckStart);
    if (kind != kStuckStart) {
      EXPECT_EQ(r.Read("SR_ERR"), "E506: Trasmissione non avvenuta: file di input non presente\r\n");
    }
    EXPECT_EQ(r.Has("FINESCO"), kind == kStuckStart);
    if (kind == kStuckStart) {
      // Once the file can go, it goes, and the slot takes the next job.
      r.fp.fs.FailRemove(start, 0);
      r.RunUntil(32000);
      EXPECT_FALSE(r.Has("SR_START"));
      PutJob(r, 1);
      r.RunUntil(45000);
      EXPECT_EQ(std::count(w.begin(), w.end(), "1000H1R"), 2);
    }
  }
}

TEST(JobCycle, DataDirectoryRemovedIsLoggedOnceAndPollingGoesOn) {
  AppRig r;
  OnlySlots(r, {1});
  r.Put("SR_MATR", "m");
  r.StartPolling(1000);
  r.RunUntil(1000);
  const std::string dir = r.data.path();
  std::filesystem::remove_all(dir);
  r.RunUntil(4000);
  const auto& logs = r.fp.notifier.logs;
  EXPECT_EQ(std::count(logs.begin(), logs.end(), "Cartella dati non trovata: " + dir), 1);
  std::filesystem::create_directories(dir);
  r.RunUntil(5000);
  EXPECT_EQ(logs.back(), "Cartella dati di nuovo disponibile: " + dir);
}

// A till that withdraws its job while it runs (deletes the start file, then
// writes its next job): the first job's outcome goes to the log only, the
// second job's files stay, and it runs next, once, with its own result.
TEST(JobCycle, WithdrawnJobLeavesTheNextJobToRun) {
  AppRig r;
  OnlySlots(r, {1});
  PutJob(r, 1);
  r.fp.loop.Schedule(1001, [&r] {
    std::filesystem::remove(r.File("SR_START"));
    r.Put("SR_DATI", "SALE,N1,P2000;\r\n");
    r.Put("SR_START", "2\r\n");
  });
  r.StartPolling(1000);
  r.RunUntil(1500);
  const auto& w = r.fp.serial.writes;
  EXPECT_EQ(std::count(w.begin(), w.end(), "1000H1R"), 1);
  EXPECT_FALSE(r.Has("FINESCO") || r.Has("SR_ERR"));
  EXPECT_EQ(r.Read("SR_DATI"), "SALE,N1,P2000;\r\n");
  EXPECT_TRUE(r.Has("SR_START"));
  EXPECT_NE(fakes::ReadFileBytes(r.data.File("LOGFILE.TXT")).find("Lavoro ritirato"), std::string::npos);

  ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START"); }, 10000));
  r.RunUntil(15000);
  EXPECT_EQ(std::count(w.begin(), w.end(), "1000H1R"), 1);
  EXPECT_EQ(std::count(w.begin(), w.end(), "2000H1R"), 1);
  EXPECT_EQ(r.Read("FINESCO"), "finesco");
  EXPECT_FALSE(r.Has("SR_DATI"));
}

// A result file of an earlier job that cannot be deleted would make this
// job's result ambiguous: the job waits (nothing sent, its start file kept),
// logged once and shown, and runs on the first tick after the file goes.
TEST(JobCycle, UndeletableStaleResultKeepsTheJobWaiting) {
  for (const char* stale : {"FINESCO", "SR_OUT", "SR_ERR"}) {
    SCOPED_TRACE(stale);
    AppRig r;
    OnlySlots(r, {1});
    PutJob(r, 1);
    r.Put(stale, "old\r\n");
    r.fp.fs.FailRemove(r.File(stale), -1);
    r.StartPolling(1000);
    r.RunUntil(5000);
    EXPECT_TRUE(r.fp.serial.writes.empty());
    EXPECT_TRUE(r.Has("SR_START"));
    EXPECT_EQ(r.ctx.ui.status, kStatusStaleResult);
    const auto& logs = r.fp.notifier.logs;
    EXPECT_EQ(std::count_if(logs.begin(), logs.end(),
                            [](const std::string& l) { return l.find("non cancellabile") != std::string::npos; }),
              1);
    r.fp.fs.FailRemove(r.File(stale), 0);
    ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START"); }, 10000));
    EXPECT_EQ(r.Read("FINESCO"), "finesco");
    EXPECT_FALSE(r.Has("SR_ERR"));
  }
}

// A job starts only once its start is recorded on the disk: with the journal
// unwritable (a folder in its place) the job waits, logged once and shown; it
// runs once the journal can be written, and its end is recorded.
TEST(JobCycle, JobWaitsUntilItsStartIsRecorded) {
  AppRig r;
  OnlySlots(r, {1});
  PutJob(r, 1);
  const std::string journal = r.data.File("KBJOURNAL.TXT");
  std::filesystem::create_directories(journal + "/inside");
  r.StartPolling(1000);
  r.RunUntil(5000);
  EXPECT_TRUE(r.fp.serial.writes.empty());
  EXPECT_TRUE(r.Has("SR_START"));
  EXPECT_EQ(r.ctx.ui.status, kStatusJournalNotWritten);
  const auto& logs = r.fp.notifier.logs;
  EXPECT_EQ(std::count(logs.begin(), logs.end(), "Impossibile scrivere " + journal), 1);

  std::filesystem::remove_all(journal);
  ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START"); }, 10000));
  EXPECT_EQ(r.Read("FINESCO"), "finesco");
  EXPECT_EQ(fakes::ReadFileBytes(journal).substr(0, 7), "1,done,");
}

// The data folder gone at the job's end (a share that dropped, a folder
// renamed): the outcome is kept; when the folder is back its result file is
// written, then the start file goes, and the job never runs again.
TEST(JobCycle, OutcomeKeptWhileTheDataFolderIsGone) {
  for (bool ok : {true, false}) {
    SCOPED_TRACE(ok);
    AppRig r;
    OnlySlots(r, {1});
    PutJob(r, 1);
    const std::string dir = r.data.path(), away = dir + ".away";
    // The folder goes once the job is on the link: after its sale line (or,
    // with a silent ECR, its first reset).
    r.fp.serial.responder = [&](const std::string& bytes) {
      if (ok) r.fp.serial.QueueInput(10, bytes);
      if ((bytes == "1000H1R" || !ok) && std::filesystem::exists(dir)) std::filesystem::rename(dir, away);
    };
    r.fp.loop.Schedule(60000, [&] { std::filesystem::rename(away, dir); });
    r.StartPolling(1000);
    r.RunUntil(59000);
    EXPECT_EQ(r.ctx.ui.status, kStatusOutcomeKept);
    EXPECT_TRUE(r.ctx.cycle.pendingOutcome.any);
    EXPECT_TRUE(std::filesystem::exists(away + "/SR_START.001"));
    const std::size_t resets = ResetTimes(r.fp.serial).size();
    r.RunUntil(62000);
    EXPECT_FALSE(r.Has("SR_START"));
    EXPECT_EQ(r.Has("FINESCO"), ok);
    EXPECT_EQ(r.Has("SR_ERR"), !ok);
    EXPECT_EQ(r.Has("SR_DATI"), !ok);
    EXPECT_EQ(ResetTimes(r.fp.serial).size(), resets);  // not run again
    const auto& logs = r.fp.notifier.logs;
    EXPECT_EQ(std::count_if(logs.begin(), logs.end(),
                            [](const std::string& l) { return l.find("esito conservato") != std::string::npos; }),
              1);
  }
}

// A data folder whose lock this copy no longer holds takes no job (said once,
// shown); locked again, it is served.
TEST(JobCycle, NoJobWhileTheDataFolderLockIsNotHeld) {
  AppRig r;
  OnlySlots(r, {1});
  PutJob(r, 1);
  r.fp.system.dataLockState = DataLockState::kLost;
  r.StartPolling(1000);
  r.RunUntil(3500);
  const auto& logs = r.fp.notifier.logs;
  const std::string lost = std::string("Stato: ") + kDataLockLost + r.data.path();
  EXPECT_EQ(std::count(logs.begin(), logs.end(), lost), 1);
  EXPECT_EQ(r.ctx.ui.status, kDataLockLost + r.data.path());
  EXPECT_TRUE(ResetTimes(r.fp.serial).empty());
  EXPECT_TRUE(r.Has("SR_START"));
  r.fp.system.dataLockState = DataLockState::kRetaken;
  r.RunUntil(4500);
  EXPECT_EQ(std::count(logs.begin(), logs.end(), kDataLockRetaken + r.data.path()), 1);
  EXPECT_EQ(ResetTimes(r.fp.serial).size(), 1u);
}

}  // namespace
}  // namespace kolibra
