// Start-up and shutdown: the data directory choice, the clean-up of stale
// job files, closing with and without a job on the link, the session's end,
// and the driver with its window.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/data_dir.h"
#include "app/window_driver.h"
#include "app_rig.h"
#include "core/messages.h"
#include "fakes/fake_window_host.h"
#include "platform/window_ids.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kolibra {
namespace {

using testing_app::AppRig;
namespace stdfs = std::filesystem;

const char* const kSixFiles[] = {"SR_START", "SR_MATR", "SR_ERR", "SR_DATI", "SR_OUT", "FINESCO"};

const char* const kE520 =
    "E520: Esito incerto: verificare sull'Ecr l'ultimo scontrino prima di ripetere l'invio\r\n";
const char* const kE521 = "E521: Lavoro non eseguito: Kolibra riavviato o chiuso, ripetere l'invio\r\n";

// Custom: "" none, "$D" an existing folder, "$M" a missing one. Expected: "P"
// the program folder, "C" common/NORVIKKOLIBRA, "D" the custom one, "" none.
TEST(DataDirectory, ChoiceTable) {
  const struct { bool ntMajor6, commonHasSubfolder; const char *custom, *expected; } cases[] = {
      {true, true, "", "C"},   {false, true, "", "P"},  {true, false, "", ""},
      {true, true, "$D/", "D"}, {false, false, "$M", "P"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.custom) + c.expected);
    AppRig r;
    fakes::ScratchDir program, common, custom;
    r.fp.system.programFolder = program.path();
    r.fp.system.commonAppData = common.path();
    r.fp.system.ntMajor6 = c.ntMajor6;
    const std::string shared = JoinPath(common.path(), "NORVIKKOLIBRA");
    if (c.commonHasSubfolder) stdfs::create_directories(shared);
    std::string customValue = c.custom;
    if (customValue.rfind("$D", 0) == 0) customValue.replace(0, 2, custom.path());
    if (customValue == "$M") customValue = JoinPath(custom.path(), "gone");
    if (!customValue.empty()) {
      r.fp.system.userValues[{"SOFTWARE\\Norvik Engineering\\NORVIKKOLIBRA", "CustomPathDataDir"}] =
          customValue;
    }
    const std::string expected = *c.expected == 'C' ? shared : *c.expected == 'D' ? custom.path() : program.path();
    ASSERT_EQ(SelectDataDirectory(r.ctx), *c.expected != 0);
    if (!*c.expected) {
      EXPECT_EQ(r.fp.notifier.messages, std::vector<std::string>{shared + " : DIR NON ESISTENTE"});
      continue;
    }
    EXPECT_EQ(r.ctx.dataDir, expected);
    EXPECT_EQ(r.ctx.settingsDir, program.path());
    EXPECT_EQ(r.ctx.defaultDataDir, c.ntMajor6 && c.commonHasSubfolder ? shared : program.path());
  }
}

// Waiting jobs of usable slots are answered: E521 when the journal never saw
// them start, E520 when it saw one start and not end, nothing new when it
// saw it end. Result files of ended jobs and command files stay.
TEST(StartUp, AnswersWaitingJobsOfUsableSlotsOnly) {
  for (bool serialFails : {false, true}) {
    SCOPED_TRACE(serialFails ? "serial ports refused" : "network link");
    AppRig r;
    // No link settings: serial, and the log says once how to choose.
    if (!serialFails) r.PutSetting("KBCHKSCO.TXT", "0\r\n0\r\n0\r\n1\r\n127.0.0.1\r\n");
    r.PutSetting("KBTIMER1.TXT", "500ms\r\n");
    r.fp.serial.failConfigure = serialFails;
    for (int s = 1; s <= 4; ++s) for (const char* base : kSixFiles) r.Put(base, "old", s);
    auto id = [&r](int s) { return r.fp.fs.Inspect(r.File("SR_START", s)).identity; };
    r.PutSetting("KBJOURNAL.TXT", "2,started," + id(2) + "\r\n3,tender-sent," + id(3) + "\r\n4,done," +
                                      id(4) + "\r\n1,done,another start file\r\n");
    ASSERT_EQ(StartDriver(r.ctx, r.Options()), StartResult::kStarted);

    const char* const kErrors[] = {kE521, kE520, kE520, "old"};
    for (int s = 1; s <= 4; ++s) {
      EXPECT_EQ(r.Has("SR_START", s) || r.Has("SR_MATR", s), serialFails) << s;
      EXPECT_EQ(r.Read("SR_DATI", s), "old");
      EXPECT_EQ(r.Read("SR_ERR", s), serialFails ? "old" : kErrors[s - 1]) << s;
      // Stale results of an earlier job go with an answered one.
      EXPECT_EQ(r.Has("FINESCO", s) && r.Has("SR_OUT", s), serialFails || s == 4) << s;
      EXPECT_EQ(r.ctx.cycle.portAvailable[s - 1], !serialFails);
      EXPECT_EQ(r.ctx.settings.slotOn[s - 1], !serialFails);
    }
    EXPECT_EQ(r.ctx.cycle.pollingIntervalMs, 500);
    EXPECT_EQ(r.fp.loop.TimerInterval(r.ctx.cycle.pollTimer), 500);
    EXPECT_TRUE(r.fp.tray.present);
    EXPECT_EQ(r.fp.socket.connectTimes.size(), serialFails ? 0u : 1u);
    for (bool pending : r.ctx.dump.pending) EXPECT_TRUE(pending);
    EXPECT_EQ(r.LogsWith("'kolibra ctl mode network'"), serialFails ? 1 : 0);
  }
}

// The journal at start-up: it lives in the data folder; an unfinished record
// makes its slot's waiting job E520 whatever its start file now is (rewritten
// by the till, or another job); a journal that is missing, or is no plain
// file, makes every waiting job E520 (a FIFO is never waited on); an older
// version's journal in the settings folder is read once. Every start-up
// leaves a journal in the data folder, readable by the driver's user only.
TEST(StartUp, JournalDecidesBetweenE520AndE521) {
  enum Journal { kInDataFolder, kInSettingsFolder, kMissing, kFifo, kFolder, kLink };
  for (Journal j : {kInDataFolder, kInSettingsFolder, kMissing, kFifo, kFolder, kLink}) {
    SCOPED_TRACE(j);
    AppRig r;
    r.PutSetting("KBCHKSCO.TXT", "0\r\n0\r\n0\r\n1\r\n127.0.0.1\r\n");
    for (int s : {1, 2}) r.Put("SR_START", "1\r\n", s);
    // Slot 1's job started and never ended; its start file is not the same
    // file any more. Slot 2's last job ended.
    const std::string record = "1,started,an earlier start file\r\n2,done,x\r\n";
    const std::string journal = r.data.File("KBJOURNAL.TXT");
    if (j == kInDataFolder) fakes::WriteFileBytes(journal, record);
    if (j == kInSettingsFolder) r.PutSetting("KBJOURNAL.TXT", record);
    // A link is neither read nor written through.
    const std::string target = r.settings.File("elsewhere");
#ifndef _WIN32
    if (j == kFifo) { ASSERT_EQ(mkfifo(journal.c_str(), 0600), 0); }
    if (j == kLink) {
      fakes::WriteFileBytes(target, record);
      stdfs::create_symlink(target, journal);
    }
#else
    if (j == kFifo || j == kLink) continue;
#endif
    if (j == kFolder) stdfs::create_directories(journal);
    ASSERT_EQ(StartDriver(r.ctx, r.Options()), StartResult::kStarted);
    const bool readable = j == kInDataFolder || j == kInSettingsFolder;
    EXPECT_EQ(r.Read("SR_ERR", 1), kE520);
    EXPECT_EQ(r.Read("SR_ERR", 2), readable ? kE521 : kE520);
    EXPECT_FALSE(stdfs::exists(r.settings.File("KBJOURNAL.TXT")));
    EXPECT_EQ(stdfs::is_regular_file(stdfs::symlink_status(journal)), j != kFolder);
    if (j == kLink) { EXPECT_EQ(fakes::ReadFileBytes(target), record); }
#ifndef _WIN32
    if (j != kFolder) {
      EXPECT_EQ(stdfs::status(journal).permissions() & stdfs::perms::all,
                stdfs::perms::owner_read | stdfs::perms::owner_write);
    }
#endif
  }
}

// A copy that finds the settings or the data folder taken ends with code 3
// and one log line (a lock file of another user, or one that cannot be used,
// said as such), touching no job file.
TEST(StartUp, AnotherCopyOnEitherFolderEndsAtOnce) {
  const struct { bool dataTaken; LockRefusal why; const char* log; } cases[] = {
      {false, LockRefusal::kAnotherCopy, "Cartella impostazioni"}, {true, LockRefusal::kAnotherCopy, "Cartella dati"},
      {true, LockRefusal::kOtherUser, kLockOfOtherUser}, {true, LockRefusal::kUnavailable, kLockUnusable}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log);
    AppRig r;
    (c.dataTaken ? r.fp.system.dataFolderTaken : r.fp.system.anotherInstanceRunning) = true;
    r.fp.system.refusal = c.why;
    r.Put("SR_START", "1\r\n");
    r.Put("SR_MATR", "m");
    EXPECT_EQ(RunDriver(r.ctx, r.Options()), kExitAnotherCopy);
    EXPECT_TRUE(r.Has("SR_START") && r.Has("SR_MATR") && !r.Has("SR_ERR"));
    ASSERT_EQ(r.fp.notifier.logs.size(), 1u);
    if (c.why == LockRefusal::kAnotherCopy) {
      EXPECT_NE(r.fp.notifier.logs[0].find(c.log), std::string::npos);
    } else {
      EXPECT_EQ(r.fp.notifier.logs[0], c.log + JoinPath(r.data.path(), "kolibra-data.lock"));
    }
  }
}

TEST(Shutdown, IdleExitKeepsCommandFilesAndSavesSettings) {
  AppRig r;
  r.AnswerDumps();
  r.PutSetting("KBCHKSCO.TXT", "0\r\n0\r\n0\r\n0\r\n");
  r.fp.loop.Schedule(5000, [&r] {
    for (const char* base : kSixFiles) r.Put(base, "x", 2);
  });
  r.fp.loop.ScheduleTerminate(6000);
  EXPECT_EQ(RunDriver(r.ctx, r.Options()), kExitOk);

  EXPECT_FALSE(r.fp.tray.present);
  EXPECT_FALSE(PollTimerEnabled(r.ctx));
  // The waiting job on slot 2 (switched off by the dump on slot 1) was
  // answered, the serial-number files went, the command file stays.
  for (const char* base : {"SR_START", "SR_MATR", "SR_OUT", "FINESCO"}) {
    EXPECT_FALSE(r.Has(base, 1) || r.Has(base, 2)) << base;
  }
  EXPECT_EQ(r.Read("SR_ERR", 2).substr(0, 4), "E502");
  EXPECT_EQ(r.Read("SR_DATI", 2), "x");
  // The dump on slot 1 switched the other slots off and ticked the RT footer.
  EXPECT_EQ(r.Setting("KBCHKCOM.TXT"), "1000\r\n");
  EXPECT_EQ(r.Setting("KBCHKSCO.TXT"), "0\r\n1\r\n0\r\n0\r\n0\r\n0\r\n0\r\n");
  EXPECT_LT(r.fp.loop.NowMs(), 6000 + 1500);
  // The log says why slots stopped taking jobs, and nothing of a tray icon.
  EXPECT_EQ(r.LogsWith("Porte che accettano lavori: 1 (altre porte spente dal dump)"), 1);
  EXPECT_EQ(r.LogsWith("Icona"), 0);
}

// A job the ECR never answers runs on slot 1 (after its dump), another waits
// on slot 2 (switched off by the dump). A shutdown request lets the running
// job end through its usual failure (ten time-outs; error file, start file
// gone, command file kept) and starts nothing after it. The end of the user's
// session (a Windows logoff or shutdown) is asked to wait while the job runs,
// and runs the whole shutdown before its handler returns; a job it cuts keeps
// its files for the journal to answer at the next start.
TEST(Shutdown, RequestOrSessionEndWithASilentJob) {
  enum How { kRequest, kSessionEndDuringTheJob, kSessionEndAfterIt };
  for (How how : {kRequest, kSessionEndDuringTheJob, kSessionEndAfterIt}) {
    SCOPED_TRACE(how);
    AppRig r;
    r.AnswerDumps();
    r.PutSetting("KBCHKSCO.TXT", "0\r\n0\r\n0\r\n0\r\n");
    r.PutSetting("KBCHKCOM.TXT", "1100\r\n");
    r.fp.loop.Schedule(2500, [&] {
      r.silentEcr = true;
      r.Put("SR_DATI", "SALE,N1,P1000;\r\n");
      r.Put("SR_START", "1\r\n");
      r.Put("SR_START", "1\r\n", 2);
    });
    std::string reasonDuring, reasonAfter = "unset";
    bool busyDuring = false;
    r.fp.loop.Schedule(5000, [&] {
      reasonDuring = r.fp.loop.SessionBusyReason();
      busyDuring = r.ctx.cycle.jobBusy;
    });
    r.fp.loop.Schedule(50000, [&] { reasonAfter = r.fp.loop.SessionBusyReason(); });
    struct { bool ended, saved, slot2Answered, slot1Kept; } seen{};
    const auto look = [&] {
      seen = {r.ctx.cycle.ended, r.Setting("KBCHKCOM.TXT") == "1000\r\n",
              !r.Has("SR_START", 2) && r.Has("SR_ERR", 2), r.Has("SR_START") && !r.Has("SR_ERR")};
    };
    if (how == kRequest) {
      r.fp.loop.ScheduleTerminate(5000);
    } else {
      r.fp.loop.Schedule(how == kSessionEndDuringTheJob ? 6000 : 60000, [&] {
        ASSERT_TRUE(r.fp.loop.EndSession());
        look();  // all done when the handler returns
      });
    }
    EXPECT_EQ(RunDriver(r.ctx, r.Options()), kExitOk);
    if (how == kRequest) look();

    EXPECT_TRUE(busyDuring);
    EXPECT_EQ(reasonDuring, kSessionEndBlocked);
    EXPECT_TRUE(seen.ended && seen.saved && seen.slot2Answered);
    EXPECT_EQ(seen.slot1Kept, how == kSessionEndDuringTheJob);
    EXPECT_EQ(r.Sent("48F"), 1);
    if (how == kSessionEndDuringTheJob) continue;
    EXPECT_EQ(r.Read("SR_ERR"), "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr\r\n");
    EXPECT_FALSE(r.Has("SR_START") || r.Has("FINESCO"));
    EXPECT_TRUE(r.Has("SR_DATI"));
    EXPECT_GT(r.fp.loop.NowMs(), 5000 + 30000);
    if (how == kSessionEndAfterIt) {
      EXPECT_EQ(reasonAfter, "");
    }
  }
}

// The driver with its window on a fake host: splash, tray, restore, the test
// receipt button and the exit through the menu with the closing notice.
TEST(WindowDriver, SplashTrayRestoreTestReceiptAndExitFromTheMenu) {
  AppRig r;
  r.AnswerDumps();
  r.PutSetting("KBCHKSCO.TXT", "0\r\n0\r\n0\r\n0\r\n");
  // Slot 1 only: unticking a box (as a dump does to the others) would also
  // disable the test button.
  r.PutSetting("KBCHKCOM.TXT", "1000\r\n");
  fakes::FakeWindowHost host;
  struct Seen {
    bool splash = false, main = false, tray = false;
  };
  Seen atStart, afterSplash;
  r.fp.loop.Schedule(100, [&] { atStart = {host.splashShown, host.mainVisible, host.tray.present}; });
  r.fp.loop.Schedule(kSplashLeastMs + 100, [&] {
    afterSplash = {host.splashShown, host.mainVisible, host.tray.present};
    host.events.onTrayMouse(515);
  });
  r.fp.loop.Schedule(4000, [&] {
    EXPECT_TRUE(host.mainVisible);
    EXPECT_EQ(host.text[IDC_SLOT1_DUMP], "DUMP ESEGUITO");
    EXPECT_EQ(host.text[IDC_SERIAL_NUMBER], "99MZT123456");
    host.Command(IDC_TEST_BUTTON);
    EXPECT_EQ(r.Read("SR_DATI"), "K\"PROVA\"10H1R0M\"PROVA\"10H1R=1T\r\n");
    EXPECT_FALSE(host.enabled[IDC_TEST_BUTTON]);
  });
  r.fp.loop.Schedule(8000, [&] { host.Command(IDM_EXIT); });

  EXPECT_EQ(RunWindowedDriver(r.fp.platform, host, r.Options()), kExitOk);

  EXPECT_TRUE(atStart.splash);
  EXPECT_FALSE(atStart.main);
  EXPECT_FALSE(afterSplash.splash);
  EXPECT_FALSE(afterSplash.main);
  EXPECT_TRUE(afterSplash.tray);
  EXPECT_EQ(host.splash.version, "Version 1.0.0.14");
  EXPECT_FALSE(host.closingAfter.mainVisible || host.closingAfter.trayPresent);
  EXPECT_FALSE(host.closingShown);
  EXPECT_EQ(host.closing, " Chiusura programma Kolibra in corso ...");
  EXPECT_EQ(r.Setting("KBCHKCOM.TXT"), "1000\r\n");
  EXPECT_TRUE(host.messages.empty());
}

}  // namespace
}  // namespace kolibra
