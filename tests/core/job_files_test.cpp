// Job files: the kill operations with their retries and LOGFILE.TXT line, result files renamed
// into place, and the job journal's text.
#include "core/job_files.h"
#include "core/job_journal.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fakes/fake_platform.h"

namespace kolibra {
namespace {

// A context on the platform fakes, on slot 3 at 07/03/2026 09:05:02, with a data directory whose
// path is longer than 128 characters (the whole path must be used).
struct AppRig {
  fakes::FakePlatform fp;
  fakes::ScratchDir scratch;
  AppContext ctx{fp.platform};
  AppRig() {
    std::string deep = scratch.path();
    while (deep.size() <= 140) deep = JoinPath(deep, "cartella_dati_molto_lunga");
    std::filesystem::create_directories(deep);
    ctx.settingsDir = ctx.dataDir = deep;
    ctx.cycle.currentSlot = 3;
    fp.loop.SetLocalTime({2026, 3, 7, 9, 5, 2, 0});
  }
  std::string Data(const std::string& name) const { return JoinPath(ctx.dataDir, name); }
  std::string File(const std::string& base) const { return JobFilePath(ctx, base, 3); }
  bool Has(const std::string& base) { return fp.fs.Exists(File(base)); }
};

TEST(JobFiles, KillRetriesEvery500msThenLogsAndGoesOn) {
  const std::pair<void (*)(AppContext&), const char*> cases[] = {
      {DeleteErrorFile, "SR_ERR"}, {DeleteOutputFile, "SR_OUT"},
      {DeleteCommandFile, "SR_DATI"}, {DeleteStartFile, "SR_START"}};
  for (const auto& [kill, base] : cases) {
    SCOPED_TRACE(base);
    AppRig r;
    fakes::WriteFileBytes(r.Data("LOGFILE.TXT"), "older line\r\n");
    fakes::WriteFileBytes(r.File(base), "held");
    r.fp.fs.FailRemove(r.File(base), -1);
    kill(r.ctx);  // logged at the 20th failure, 19 waits later
    EXPECT_EQ(r.fp.fs.removeCalls[r.File(base)], 20);
    EXPECT_EQ(r.fp.loop.NowMs(), 19 * 500);
    EXPECT_EQ(r.fp.loop.waitCalls(), 0);  // blocking: no event ran meanwhile
    EXPECT_TRUE(r.Has(base));
    EXPECT_EQ(fakes::ReadFileBytes(r.Data("LOGFILE.TXT")),
              std::string("older line\r\n07/03/2026 09:05:11 Errore nella Kill di ") + base + "\r\n");
    // The job still counts as ended when its start file stays.
    EXPECT_EQ(r.Has("FINESCO"), kill == DeleteStartFile);
  }
}

// A result file appears only whole, renamed from "~KB" + name + ".tmp"; a failed rename is retried
// every 500 ms and logged at the 20th failure, the temporary file then gone. Without its FINESCO
// the start file never goes.
TEST(JobFiles, ResultFilesAreRenamedIntoPlaceWithRetries) {
  const struct { const char* base; const char* bytes; void (*write)(AppContext&); const char* logText; } cases[] = {
      {"SR_ERR", "E504: prova\r\n", [](AppContext& c) { WriteErrorFile(c, "E504: prova", 3); },
       "Errore nella Rename di SR_ERR"},
      {"FINESCO", "finesco", DeleteStartFile, "Errore nella Kill di SR_START"},
      {"SR_MATR", "99MZT123456\r\n",
       [](AppContext& c) { WriteResultFile(c, JobFilePath(c, "SR_MATR", 3), "99MZT123456\r\n"); },
       "Errore nella Rename di SR_MATR"},
      {"SR_OUT", "R1\r\nR2\r\n",
       [](AppContext& c) {
         OwnedFile out;
         out.Adopt(c.platform.fs.CreateFresh(TemporaryNameFor(JobFilePath(c, "SR_OUT", 3))));
         out.Write("R1\r\nR2\r\n");
         EXPECT_FALSE(c.platform.fs.Exists(JobFilePath(c, "SR_OUT", 3)));  // not before it is whole
         CloseResultFile(c, out, JobFilePath(c, "SR_OUT", 3));
       },
       "Errore nella Rename di SR_OUT"},
  };
  for (const auto& c : cases) {
    for (int failures : {3, -1}) {
      SCOPED_TRACE(std::string(c.base) + " failing " + std::to_string(failures));
      AppRig r;
      fakes::WriteFileBytes(r.File("SR_START"), "1");
      r.fp.fs.FailReplace(r.File(c.base), failures);
      fakes::WriteFileBytes(r.Data("precious"), "precious");
#ifndef _WIN32
      // A link planted as LOGFILE.TXT is replaced, never written through (Windows: no links).
      std::filesystem::create_symlink(r.Data("precious"), r.Data("LOGFILE.TXT"));
#endif
      c.write(r.ctx);
      EXPECT_EQ(fakes::ReadFileBytes(r.Data("precious")), "precious");
      EXPECT_EQ(r.fp.loop.NowMs(), failures > 0 ? failures * 500 : 19 * 500);
      // SR_OUT given up stays whole under its temporary name for the job's end.
      const bool kept = failures < 0 && std::string(c.base) == "SR_OUT";
      EXPECT_EQ(std::filesystem::exists(TemporaryNameFor(r.File(c.base))), kept);
      EXPECT_EQ(r.ctx.link.outputUnplaced, kept);
      EXPECT_EQ(r.Has("SR_START"), c.write != DeleteStartFile || failures < 0);
      if (failures > 0) {
        EXPECT_EQ(fakes::ReadFileBytes(r.File(c.base)), c.bytes);
      } else {
        EXPECT_FALSE(r.Has(c.base));
        EXPECT_EQ(fakes::ReadFileBytes(r.Data("LOGFILE.TXT")), std::string("07/03/2026 09:05:11 ") + c.logText + "\r\n");
      }
    }
  }
}

// What the job journal keeps and what makes it unreadable (every job it may hold then counts as
// interrupted).
TEST(JobJournal, TextRoundTripAndDamage) {
  JobJournal j;
  j.slots[0] = JournalEntry{JobStage::kTenderSent, "1:2:3:4.5", "1:2:9:4.1"};
  j.slots[3] = JournalEntry{JobStage::kDone, "", ""};
  j.slots[2] = JournalEntry{JobStage::kDone, "1:2:3:4.6", "", JobOutcomeClass::kUncertain};
  const JobJournal back = ParseJournal(JournalText(j));
  EXPECT_FALSE(back.unreadable);
  ASSERT_TRUE(back.slots[0] && back.slots[3]);
  EXPECT_EQ(back.slots[0]->stage, JobStage::kTenderSent);
  EXPECT_EQ(back.slots[0]->startIdentity, "1:2:3:4.5");
  EXPECT_EQ(back.slots[0]->commandIdentity, "1:2:9:4.1");
  EXPECT_EQ(back.slots[3]->stage, JobStage::kDone);
  EXPECT_EQ(back.slots[3]->outcome, JobOutcomeClass::kUnknown);
  ASSERT_TRUE(back.slots[2]);
  EXPECT_EQ(back.slots[2]->startIdentity, "1:2:3:4.6");
  EXPECT_EQ(back.slots[2]->commandIdentity, "");
  EXPECT_EQ(back.slots[2]->outcome, JobOutcomeClass::kUncertain);
  EXPECT_FALSE(back.slots[1]);
  // Records of older versions hold no outcome, the oldest no command file identity either.
  const JobJournal old = ParseJournal("2,started,7:8:9:1.2\r\n3,done,7:8:9:1.3,7:8:1:1.1\r\n");
  ASSERT_TRUE(old.slots[1] && old.slots[2]);
  EXPECT_EQ(old.slots[1]->startIdentity, "7:8:9:1.2");
  EXPECT_EQ(old.slots[1]->commandIdentity, "");
  EXPECT_EQ(old.slots[2]->commandIdentity, "7:8:1:1.1");
  EXPECT_EQ(old.slots[2]->outcome, JobOutcomeClass::kUnknown);
  EXPECT_FALSE(old.unreadable);
  // A torn or foreign file: slot out of range, unknown stage, no fields.
  for (const char* damaged : {"5,done,x\r\n", "1,half,x\r\n", "1\r\n", "12,done,x\r\n"}) {
    EXPECT_TRUE(ParseJournal(damaged).unreadable) << damaged;
  }
}

}  // namespace
}  // namespace kolibra
