// Job files: names, the error file, and the kill operations with their
// retries and LOGFILE.TXT line.
#include "app/job_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app_rig.h"

namespace kolibra {
namespace {

using testing_app::AppRig;

TEST(JobFiles, NamesDifferOnlyInBaseAndSlot) {
  EXPECT_EQ(JobFileName("SR_START", 1), "SR_START.001");
  EXPECT_EQ(JobFileName("FINESCO", 4), "FINESCO.004");
  AppRig r;
  EXPECT_EQ(JobFilePath(r.ctx, "SR_ERR", 3), JoinPath(r.data.path(), "SR_ERR.003"));
}

TEST(JobFiles, ErrorFileUsesTheWholeLongPath) {
  AppRig r;
  // A data directory whose name alone is longer than 128 characters.
  std::string deep = r.data.path();
  while (deep.size() <= 140) deep = JoinPath(deep, "cartella_dati_molto_lunga");
  std::filesystem::create_directories(deep);
  r.ctx.dataDir = deep;
  WriteErrFile(r.ctx, "E506: prova", 2);
  EXPECT_EQ(fakes::ReadFileBytes(JoinPath(deep, "SR_ERR.002")), "E506: prova\r\n");
  // Rewritten, not appended.
  WriteErrFile(r.ctx, "E502: altra", 2);
  EXPECT_EQ(fakes::ReadFileBytes(JoinPath(deep, "SR_ERR.002")), "E502: altra\r\n");
}

TEST(JobFiles, StartFileKillWritesFinescoOnlyWithoutErrorFile) {
  struct Case {
    const char* name;
    bool start;
    bool err;
    bool finescoExpected;
  };
  const Case cases[] = {
      {"start, no error file", true, false, true},
      {"start and error file", true, true, false},
      {"no start file", false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AppRig r;
    r.ctx.cycle.currentSlot = 2;
    if (c.start) r.Put("SR_START", "1\r\n", 2);
    if (c.err) r.Put("SR_ERR", "E504\r\n", 2);
    SubKillStartFile(r.ctx);
    EXPECT_FALSE(r.Has("SR_START", 2));
    EXPECT_EQ(r.Has("FINESCO", 2), c.finescoExpected);
    if (c.finescoExpected) {
      EXPECT_EQ(r.Read("FINESCO", 2), "finesco");
    }
    EXPECT_FALSE(r.Has("FINESCO", 1));
  }
}

TEST(JobFiles, KillRetriesEvery500msThenLogsAndGoesOn) {
  struct Case {
    const char* name;
    void (*kill)(AppContext&);
    const char* base;
    const char* logText;
  };
  const Case cases[] = {
      {"err", SubKillErrFile, "SR_ERR", "Errore nella Kill di SR_ERR"},
      {"out", SubKillFileOut, "SR_OUT", "Errore nella Kill di SR_OUT"},
      {"dati", SubKillDatiFile, "SR_DATI", "Errore nella Kill di SR_DATI"},
      {"start", SubKillStartFile, "SR_START", "Errore nella Kill di SR_START"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AppRig r;
    r.fp.loop.SetLocalTime({2026, 3, 7, 9, 5, 2, 0});
    r.ctx.cycle.currentSlot = 3;
    r.Put(c.base, "held", 3);
    r.fp.fs.FailRemove(r.File(c.base, 3), -1);
    const int64_t t0 = r.fp.loop.NowMs();
    c.kill(r.ctx);  // logged at the 20th failure, 19 waits later
    EXPECT_EQ(r.fp.fs.removeCalls[r.File(c.base, 3)], 20);
    EXPECT_EQ(r.fp.loop.NowMs() - t0, 19 * 500);
    EXPECT_EQ(r.fp.loop.waitCalls(), 0);  // blocking: no event ran meanwhile
    EXPECT_TRUE(r.Has(c.base, 3));
    EXPECT_EQ(fakes::ReadFileBytes(JoinPath(r.data.path(), "LOGFILE.TXT")),
              std::string("07/03/2026 09:05:11 ") + c.logText + "\r\n");
  }
}

TEST(JobFiles, KillSucceedsAfterTransientFailuresAndLogAppends) {
  AppRig r;
  r.ctx.cycle.currentSlot = 1;
  fakes::WriteFileBytes(JoinPath(r.data.path(), "LOGFILE.TXT"), "older line\r\n");
  r.Put("SR_OUT", "x");
  r.fp.fs.FailRemove(r.File("SR_OUT"), 3);
  SubKillFileOut(r.ctx);
  EXPECT_FALSE(r.Has("SR_OUT"));
  EXPECT_EQ(r.fp.loop.NowMs(), 3 * 500);
  EXPECT_EQ(fakes::ReadFileBytes(JoinPath(r.data.path(), "LOGFILE.TXT")), "older line\r\n");

  // A start file that cannot be deleted: logged once, then FINESCO is still
  // written (the job counts as ended) and the start file stays in place.
  r.Put("SR_START", "1");
  r.fp.fs.FailRemove(r.File("SR_START"), -1);
  SubKillStartFile(r.ctx);
  const std::string log = fakes::ReadFileBytes(JoinPath(r.data.path(), "LOGFILE.TXT"));
  EXPECT_EQ(log.find("older line\r\n"), 0u);
  EXPECT_NE(log.find(" Errore nella Kill di SR_START\r\n"), std::string::npos);
  EXPECT_TRUE(r.Has("SR_START"));
  EXPECT_EQ(r.Read("FINESCO"), "finesco");
}

TEST(JobFiles, KillOnInvalidSlotAndVerifyExistenceAndKillIgnoreEverything) {
  AppRig r;
  r.Put("SR_ERR", "x");
  r.ctx.cycle.currentSlot = 0;
  SubKillErrFile(r.ctx);
  SubKillStartFile(r.ctx);
  EXPECT_TRUE(r.Has("SR_ERR"));

  r.fp.fs.FailRemove(r.File("SR_ERR"), -1);
  VerifyExistenceAndKill(r.ctx, "\\SR_ERR.001");  // one attempt, no wait, no log
  EXPECT_EQ(r.fp.fs.removeCalls[r.File("SR_ERR")], 1);
  EXPECT_EQ(r.fp.loop.NowMs(), 0);
  r.fp.fs.removeFailures.clear();
  VerifyExistenceAndKill(r.ctx, "\\SR_ERR.001");
  VerifyExistenceAndKill(r.ctx, "SR_MISSING.001");
  EXPECT_FALSE(r.Has("SR_ERR"));
}

}  // namespace
}  // namespace kolibra
