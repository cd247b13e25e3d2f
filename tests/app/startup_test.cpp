// Start-up and shutdown: the data folder's choice, waiting jobs answered, closing with and without a
// job on the link, and the driver with its window.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/control_server.h"
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

const char* const kE520 = "E520: Esito incerto: verificare sull'Ecr l'ultimo scontrino prima di ripetere l'invio\r\n";
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
      r.fp.system.userValues[{"SOFTWARE\\Norvik Engineering\\NORVIKKOLIBRA", "CustomPathDataDir"}] = customValue;
    }
    ASSERT_EQ(SelectDataDirectory(r.ctx), *c.expected != 0);
    if (!*c.expected) {
      EXPECT_EQ(r.fp.notifier.messages, std::vector<std::string>{shared + " : DIR NON ESISTENTE"});
      continue;
    }
    EXPECT_EQ(r.ctx.dataDir, *c.expected == 'C' ? shared : *c.expected == 'D' ? custom.path() : program.path());
    EXPECT_EQ(r.ctx.settingsDir, program.path());
    EXPECT_EQ(r.ctx.defaultDataDir, c.ntMajor6 && c.commonHasSubfolder ? shared : program.path());
  }
}

// A usable slot's waiting job gets E520 if its last job started and did not end (whatever its start file)
// or the journal cannot be read, else E521; a start file whose job ended only goes. An older version's
// journal in the settings folder is read once; a FIFO is never waited on, a link never followed.
TEST(StartUp, AnswersWaitingJobsOfUsableSlotsFromTheJournal) {
  enum Journal { kInDataFolder, kInSettingsFolder, kMissing, kFifo, kFolder, kLink, kSerialRefused };
  for (Journal j : {kInDataFolder, kInSettingsFolder, kMissing, kFifo, kFolder, kLink, kSerialRefused}) {
    SCOPED_TRACE(j);
    AppRig r;
    const bool serialFails = j == kSerialRefused;
    // No link settings: serial, and the log says once how to choose.
    if (!serialFails) r.PutSetting("KBCHKSCO.TXT", "0\r\n0\r\n0\r\n1\r\n127.0.0.1\r\n");
    r.PutSetting("KBTIMER1.TXT", "500ms\r\n");
    r.fp.serial.failConfigure = serialFails;
    for (int s = 1; s <= 4; ++s) for (const char* base : kSixFiles) r.Put(base, "old", s);
    auto id = [&r](int s) { return r.fp.fs.Inspect(r.File("SR_START", s)).identity; };
    const std::string record = "1,started,an earlier start file\r\n2,done,another start file\r\n3,tender-sent," +
                               id(3) + "\r\n4,done," + id(4) + "\r\n";
    const std::string journal = r.data.File("KBJOURNAL.TXT"), target = r.settings.File("elsewhere");
    if (j == kInDataFolder || j == kSerialRefused) fakes::WriteFileBytes(journal, record);
    if (j == kInSettingsFolder) r.PutSetting("KBJOURNAL.TXT", record);
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
    const char* const kErrors[] = {kE520, readable ? kE521 : kE520, kE520, readable ? "old" : kE520};
    for (int s = 1; s <= 4; ++s) {
      EXPECT_EQ(r.Has("SR_START", s) || r.Has("SR_MATR", s), serialFails) << s;
      EXPECT_EQ(r.Read("SR_DATI", s), "old");
      EXPECT_EQ(r.Read("SR_ERR", s), serialFails ? "old" : kErrors[s - 1]) << s;
      EXPECT_EQ(r.Has("FINESCO", s) && r.Has("SR_OUT", s), serialFails || (readable && s == 4)) << s;
      EXPECT_EQ(r.ctx.cycle.portAvailable[s - 1], !serialFails);
      EXPECT_EQ(r.ctx.settings.slotOn[s - 1], !serialFails);
    }
    EXPECT_EQ(r.ctx.cycle.pollingIntervalMs, 500);
    EXPECT_EQ(r.fp.loop.TimerInterval(r.ctx.cycle.pollTimer), 500);
    EXPECT_TRUE(r.fp.tray.present);
    EXPECT_EQ(r.fp.socket.connectTimes.size(), serialFails ? 0u : 1u);
    for (bool pending : r.ctx.dump.pending) EXPECT_TRUE(pending);
    EXPECT_EQ(r.LogsWith("'kolibra ctl mode network'"), serialFails ? 1 : 0);
    EXPECT_EQ(r.LogsWith("Porta COM4 non disponibile: refused 9600,N,8,1"), serialFails ? 1 : 0);
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

// A copy that finds either folder taken ends with code 3 and one log line, touching no job file.
TEST(StartUp, AnotherCopyOnEitherFolderEndsAtOnce) {
  const struct { bool dataTaken; LockRefusal why; const char* log; } cases[] = {
      {false, LockRefusal::kAnotherCopy, "Cartella impostazioni"}, {true, LockRefusal::kAnotherCopy, "Cartella dati"},
      {true, LockRefusal::kOtherUser, kLockOfOtherUser}, {true, LockRefusal::kUnavailable, kLockUnusable},
      {true, LockRefusal::kOtherSession, kLockOtherSession}, {true, LockRefusal::kNotWritable, kLockFolderNotWritable}};
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

// A control endpoint the driver cannot open is shown, not only logged, with the system's reason when
// it gave one: a headless driver has no other way to say why `kolibra ctl` cannot reach it.
TEST(StartUp, ControlEndpointThatCannotOpenIsShown) {
  struct Refusing : ControlChannel {
    ControlOpenResult result;
    ControlOpenResult Open(const std::string&, Handler, const ControlChannelOptions&) override { return result; }
    void Close() override {}
    bool IsOpen() const override { return false; }
  } channel;
  const std::pair<ControlOpenResult, std::string> cases[] = {
      {{ControlOpenStatus::kNameTaken, Status::Ok()}, kControlNameTaken},
      {{ControlOpenStatus::kFailed, Status::Failed("Address family not supported")}, ": Address family not supported"}};
  for (const auto& [result, ending] : cases) {
    AppRig r;
    channel.result = result;
    const ControlEndpoint endpoint(r.ctx, &channel);
    EXPECT_TRUE(r.ctx.state.status.starts_with("Comandi operatore non disponibili: ")) << r.ctx.state.status;
    EXPECT_TRUE(r.ctx.state.status.ends_with(ending)) << r.ctx.state.status;
    EXPECT_EQ(r.LogsWith(ending), 1);
  }
}

// Slot 1 dumped (the others switched off), a job waiting on slot 2. A job the ECR never answers on slot 1
// ends through its ten time-outs on a shutdown request; the session's end waits for it and shuts down
// before its handler returns, and a job it cuts keeps its files for the next start.
TEST(Shutdown, IdleOrWithASilentJobOnRequestOrSessionEnd) {
  enum How { kIdle, kRequest, kSessionEndDuringTheJob, kSessionEndAfterIt };
  for (How how : {kIdle, kRequest, kSessionEndDuringTheJob, kSessionEndAfterIt}) {
    SCOPED_TRACE(how);
    AppRig r;
    r.AnswerDumps();
    r.PutSetting("KBCHKSCO.TXT", "0\r\n0\r\n0\r\n0\r\n");
    r.PutSetting("KBCHKCOM.TXT", "1100\r\n");
    r.fp.loop.Schedule(2500, [&] {
      for (const char* base : kSixFiles) r.Put(base, "x", 2);
      if (how == kIdle) return;
      r.fp.serial.responder = [](const std::string&) {};  // silent from now on
      r.Put("SR_DATI", "SALE,N1,P1000;\r\n");
      r.Put("SR_START", "1\r\n");
    });
    std::string reasonDuring, reasonAfter = "unset";
    bool busyDuring = false;
    r.fp.loop.Schedule(5000, [&] {
      reasonDuring = r.fp.loop.SessionBusyReason();
      busyDuring = r.ctx.cycle.jobBusy;
    });
    r.fp.loop.Schedule(50000, [&] { reasonAfter = r.fp.loop.SessionBusyReason(); });
    struct { bool ended, saved, slot2Answered, slot1Kept; std::string slot2Error; } seen{};
    const auto look = [&] {
      seen = {r.ctx.cycle.ended, r.Setting("KBCHKCOM.TXT") == "1000\r\n", !r.Has("SR_START", 2),
              r.Has("SR_START") && !r.Has("SR_ERR"), r.Read("SR_ERR", 2).substr(0, 4)};
    };
    if (how <= kRequest) {
      r.fp.loop.ScheduleTerminate(how == kIdle ? 6000 : 5000);
    } else {
      r.fp.loop.Schedule(how == kSessionEndDuringTheJob ? 6000 : 60000, [&] {
        ASSERT_TRUE(r.fp.loop.EndSession());
        look();  // all done when the handler returns
      });
    }
    EXPECT_EQ(RunDriver(r.ctx, r.Options()), kExitOk);
    if (how <= kRequest) look();

    EXPECT_EQ(busyDuring, how != kIdle);
    EXPECT_EQ(reasonDuring, how == kIdle ? "" : kSessionEndBlocked);
    EXPECT_TRUE(seen.ended && seen.saved && seen.slot2Answered);
    EXPECT_EQ(seen.slot1Kept, how == kSessionEndDuringTheJob);
    // Answered by a tick as a switched-off slot, or at the end as a job not run.
    EXPECT_EQ(seen.slot2Error, how == kIdle || how == kSessionEndAfterIt ? "E502" : "E521");
    EXPECT_EQ(r.Sent("48F"), 1);
    for (const char* base : {"SR_START", "SR_MATR", "SR_OUT", "FINESCO"}) EXPECT_FALSE(r.Has(base, 2)) << base;
    EXPECT_EQ(r.Read("SR_DATI", 2), "x");
    // The dump ticked the RT footer; the log says why slots stopped taking jobs, nothing of a tray icon.
    EXPECT_EQ(r.Setting("KBCHKSCO.TXT"), "0\r\n1\r\n0\r\n0\r\n0\r\n0\r\n0\r\n");
    EXPECT_EQ(r.LogsWith("Porte che accettano lavori: 1 (altre porte spente dal dump)"), 1);
    EXPECT_EQ(r.LogsWith("Icona"), 0);
    if (how == kSessionEndDuringTheJob) continue;
    EXPECT_FALSE(r.Has("SR_MATR") || r.fp.tray.present || PollTimerEnabled(r.ctx));
    if (how == kIdle) {
      EXPECT_LT(r.fp.loop.NowMs(), 6000 + 1500);
      continue;
    }
    EXPECT_EQ(r.Read("SR_ERR"), "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr\r\n");
    EXPECT_FALSE(r.Has("SR_START") || r.Has("FINESCO"));
    EXPECT_TRUE(r.Has("SR_DATI"));
    EXPECT_GT(r.fp.loop.NowMs(), 5000 + 30000);
    EXPECT_EQ(reasonAfter, how == kSessionEndAfterIt ? "" : "unset");  // the request's run ended before 50000
  }
}

TEST(WindowDriver, SplashTrayRestoreTestReceiptAndExitFromTheMenu) {
  AppRig r;
  r.AnswerDumps();
  r.PutSetting("KBCHKSCO.TXT", "0\r\n0\r\n0\r\n0\r\n");
  // Slot 1 only: a dump unticking the others would also disable the test button.
  r.PutSetting("KBCHKCOM.TXT", "1000\r\n");
  fakes::FakeWindowHost host;
  // Splash, main window and tray icon shown: at first, and once the splash has gone.
  std::vector<bool> atStart, afterSplash;
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

  EXPECT_EQ(atStart, (std::vector<bool>{true, false, false}));
  EXPECT_EQ(afterSplash, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(host.splash.version, "Version 1.0.0.14");
  EXPECT_FALSE(host.closingAfter.mainVisible || host.closingAfter.trayPresent || host.closingShown);
  EXPECT_EQ(host.closing, " Chiusura programma Kolibra in corso ...");
  EXPECT_EQ(r.Setting("KBCHKCOM.TXT"), "1000\r\n");
  EXPECT_TRUE(host.messages.empty());
}

}  // namespace
}  // namespace kolibra
