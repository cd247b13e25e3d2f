// The polling cycle on the virtual clock: detection order, the pause tick,
// dumps before jobs, E502/E506, and a data directory that disappears.
#include "app/job_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "app_rig.h"

namespace kolibra {
namespace {

using testing_app::AppRig;

const char kReceipt[] = "SALE,N1,P1000;\r\n";

// Times of the reset command " K" on the port: one per job or dump.
std::vector<int64_t> ResetTimes(const fakes::FakeSerialPort& port) {
  std::vector<int64_t> out;
  for (std::size_t i = 0; i < port.writes.size(); ++i) {
    if (port.writes[i] == " K") out.push_back(port.writeTimes[i]);
  }
  return out;
}

void OnlySlots(AppRig& r, std::initializer_list<int> slots) {
  for (auto& check : r.ctx.ui.slotCheck) check.value = 0;
  for (int s : slots) r.ctx.ui.slotCheck[s - 1].value = 1;
}

TEST(JobCycle, LowerSlotFirstThenPauseTickThenTheNext) {
  AppRig r;
  OnlySlots(r, {1, 2});
  for (int s : {2, 1}) {
    r.Put("SR_MATR", "m", s);
    r.Put("SR_DATI", kReceipt, s);
    r.Put("SR_START", "1\r\n", s);
  }
  r.StartPolling(5000);

  ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START", 1); }, 20000));
  const int64_t firstDone = r.fp.loop.NowMs();
  EXPECT_TRUE(r.Has("SR_START", 2));
  EXPECT_EQ(r.Read("FINESCO", 1), "finesco");
  EXPECT_FALSE(r.Has("SR_DATI", 1));

  ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START", 2); }, 40000));
  EXPECT_EQ(r.Read("FINESCO", 2), "finesco");
  const std::vector<int64_t> resets = ResetTimes(r.fp.serial);
  ASSERT_EQ(resets.size(), 2u);
  EXPECT_EQ(resets[0], 5000);  // the first tick
  // One pause tick of 1000 ms, then one polling interval of 5000 ms.
  EXPECT_GT(resets[1], firstDone + 5990);
  EXPECT_LE(resets[1], firstDone + 6000);
  EXPECT_EQ(r.ctx.cycle.tickCounter, 2);  // the pause tick does not count
}

TEST(JobCycle, DisabledOrUnavailableSlotsAreNeverExamined) {
  AppRig r;
  r.ctx.ui.slotCheck[0].value = 0;          // slot 1 switched off
  r.ctx.cycle.portAvailable[1] = false;     // slot 2 without a port
  r.ctx.ui.slotCheck[2].value = 0;
  r.ctx.ui.slotCheck[3].value = 0;
  for (int s : {1, 2}) {
    r.Put("SR_DATI", kReceipt, s);
    r.Put("SR_START", "1\r\n", s);
    r.Put("FINESCO", "old", s);
  }
  r.StartPolling(1000);
  r.RunUntil(3500);
  EXPECT_TRUE(r.fp.serial.writes.empty());  // no dump, no job
  for (int s : {1, 2}) {
    EXPECT_TRUE(r.Has("SR_START", s));
    EXPECT_EQ(r.Read("FINESCO", s), "old");
    EXPECT_FALSE(r.Has("SR_ERR", s));
  }
  EXPECT_EQ(r.ctx.cycle.tickCounter, 3);
  EXPECT_TRUE(PollingTimerEnabled(r.ctx));
}

TEST(JobCycle, SlotWithoutSerialNumberFileIsDumpedBeforeItsJobRuns) {
  AppRig r;
  OnlySlots(r, {1});
  r.fp.serial.responder = [&](const std::string& bytes) {
    const std::map<std::string, std::string> answers{{"48F", "48F0"}, {"41F", "41F12345678"}};
    auto it = answers.find(bytes);
    r.fp.serial.QueueInput(10, it == answers.end() ? bytes : it->second);
  };
  r.Put("SR_DATI", kReceipt);
  r.Put("SR_START", "1\r\n");
  r.Put("FINESCO", "stale");
  r.Put("SR_OUT", "stale");
  r.StartPolling(1000);

  r.RunUntil(1000);
  // The first tick ran the dump only.
  EXPECT_TRUE(r.Has("SR_MATR"));
  EXPECT_TRUE(r.Has("SR_START"));
  EXPECT_EQ(ResetTimes(r.fp.serial).size(), 1u);

  ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START"); }, 20000));
  EXPECT_EQ(ResetTimes(r.fp.serial).size(), 2u);
  EXPECT_EQ(r.Read("FINESCO"), "finesco");
  EXPECT_EQ(r.Read("SR_OUT"), "");  // the stale one went before the job
  EXPECT_FALSE(r.ctx.dump.pending[0]);
}

TEST(JobCycle, StartFileWithoutCommandFileGivesE506AndPollingGoesOn) {
  AppRig r;
  OnlySlots(r, {3});
  r.Put("SR_MATR", "m", 3);
  r.Put("SR_START", "1\r\n", 3);
  r.StartPolling(1000);
  r.RunUntil(1000);
  EXPECT_EQ(r.Read("SR_ERR", 3), "E506: Trasmissione non avvenuta: file di input non presente\r\n");
  EXPECT_FALSE(r.Has("SR_START", 3));
  EXPECT_FALSE(r.Has("FINESCO", 3));
  EXPECT_TRUE(r.fp.serial.writes.empty());
  EXPECT_FALSE(r.ctx.cycle.jobBusy);
  EXPECT_TRUE(PollingTimerEnabled(r.ctx));
  EXPECT_EQ(r.fp.loop.TimerInterval(r.ctx.cycle.timer21), 1000);

  // The next job of the slot runs normally.
  r.Put("SR_DATI", kReceipt, 3);
  r.Put("SR_START", "1\r\n", 3);
  ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START", 3); }, 10000));
  EXPECT_EQ(r.fp.serial.portNumber, 3);
}

TEST(JobCycle, NoUsablePortWritesE502ToAllSlotsOnEveryTick) {
  AppRig r;
  r.ctx.cycle.portAvailable.fill(false);
  r.StartPolling(1000);
  r.RunUntil(1000);
  for (int s = 1; s <= 4; ++s) {
    EXPECT_EQ(r.Read("SR_ERR", s), "E502: Nessuna porta di comunicazione disponibile\r\n");
    std::filesystem::remove(r.File("SR_ERR", s));
  }
  r.RunUntil(2000);
  for (int s = 1; s <= 4; ++s) EXPECT_TRUE(r.Has("SR_ERR", s)) << s;
  EXPECT_TRUE(PollingTimerEnabled(r.ctx));
}

TEST(JobCycle, TickCounterWrapsAndTimerTextBlinks) {
  AppRig r;
  OnlySlots(r, {});
  r.ctx.ui.windowShown = true;
  r.ctx.cycle.tickCounter = 30001;
  r.StartPolling(100);
  r.RunUntil(100);
  EXPECT_EQ(r.ctx.cycle.tickCounter, 0);
  EXPECT_EQ(r.ctx.ui.tickCounterText, "0");
  EXPECT_EQ(r.ctx.ui.timerState, "Timer ON");
  r.RunUntil(200);
  EXPECT_EQ(r.ctx.ui.timerState, "Timer on");
  EXPECT_EQ(r.ctx.cycle.tickCounter, 1);

  // While a dump runs, ticks return at once and leave the timer enabled.
  r.ctx.dump.inProgress = true;
  r.RunUntil(500);
  EXPECT_EQ(r.ctx.cycle.tickCounter, 1);
  EXPECT_TRUE(PollingTimerEnabled(r.ctx));
}

TEST(JobCycle, RunningJobShowsItselfInTrayAndStatus) {
  AppRig r;
  OnlySlots(r, {1});
  r.ctx.ui.windowShown = true;
  r.Put("SR_MATR", "m");
  r.Put("SR_DATI", kReceipt);
  r.Put("SR_START", "1\r\n");
  r.StartPolling(1000);
  ASSERT_TRUE(r.RunUntilTrue([&] { return !r.Has("SR_START"); }, 10000));
  ASSERT_EQ(r.fp.notifier.trayStates.size(), 2u);
  EXPECT_EQ(r.fp.notifier.trayStates[0],
            std::make_pair(TrayIcon::kRunning, std::string("Kolibra in esecuzione...")));
  EXPECT_EQ(r.fp.notifier.trayStates[1].first, TrayIcon::kIdle);
  const auto& logs = r.fp.notifier.logs;
  EXPECT_NE(std::find(logs.begin(), logs.end(), "Stato: TRASMISSIONE KOLIBRA IN CORSO .."), logs.end());
  EXPECT_EQ(r.ctx.ui.status, "KOLIBRA TERMINATO : TUTTO OK");
}

TEST(JobCycle, DataDirectoryRemovedWhileRunningIsLoggedOnceAndPollingGoesOn) {
  AppRig r;
  OnlySlots(r, {1});
  r.Put("SR_MATR", "m");
  r.StartPolling(1000);
  r.RunUntil(1000);
  const std::string dir = r.data.path();
  std::filesystem::remove_all(dir);
  r.RunUntil(4000);
  int missing = 0;
  for (const auto& line : r.fp.notifier.logs) missing += line == "Cartella dati non trovata: " + dir;
  EXPECT_EQ(missing, 1);
  EXPECT_TRUE(PollingTimerEnabled(r.ctx));
  EXPECT_TRUE(r.fp.serial.writes.empty());

  // Back again: the next tick polls it (here: a start file without its command file).
  std::filesystem::create_directories(dir);
  r.Put("SR_MATR", "m");
  r.Put("SR_START", "1\r\n");
  r.RunUntil(5000);
  EXPECT_EQ(r.fp.notifier.logs.back(), "Cartella dati di nuovo disponibile: " + dir);
  EXPECT_FALSE(r.Has("SR_START"));
  EXPECT_TRUE(r.Has("SR_ERR"));
}

TEST(JobCycle, UndeletableStartFileIsLoggedAndTheCycleGoesOn) {
  AppRig r;
  OnlySlots(r, {1});
  r.Put("SR_MATR", "m");
  r.Put("SR_START", "1\r\n");
  r.fp.fs.FailRemove(r.File("SR_START"), -1);
  r.StartPolling(1000);
  r.RunUntil(1000);
  // E506, 19 blocking retries, one log line; the tick ends and polling goes on.
  EXPECT_TRUE(r.Has("SR_ERR"));
  EXPECT_NE(fakes::ReadFileBytes(JoinPath(r.data.path(), "LOGFILE.TXT")).find("Errore nella Kill di SR_START"),
            std::string::npos);
  EXPECT_EQ(r.fp.loop.NowMs(), 1000 + 19 * 500);
  EXPECT_TRUE(PollingTimerEnabled(r.ctx));
}

}  // namespace
}  // namespace kolibra
