// Job files: the kill operations with their retries and LOGFILE.TXT line, result files renamed
// into place, and the job journal's text.
#include "core/job_files.h"
#include "core/job_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "fakes/context_rig.h"

namespace kolibra {
namespace {

// A context on the platform fakes, on slot 3 at 07/03/2026 09:05:02, with a data directory whose
// path is longer than 128 characters (the whole path must be used).
struct AppRig : fakes::ContextRig {
  AppRig() {
    while (dataFolder.size() <= 140) dataFolder = JoinPath(dataFolder, "cartella_dati_molto_lunga");
    std::filesystem::create_directories(dataFolder);
    ctx.settingsDir = ctx.dataDir = dataFolder;
    ctx.job.currentSlot = 3;
    fp.loop.SetLocalTime({2026, 3, 7, 9, 5, 2, 0});
  }
  std::string Data(const std::string& name) const { return JoinPath(dataFolder, name); }
};

TEST(JobFiles, KillRetriesEvery500msThenLogsAndGoesOn) {
  const std::pair<void (*)(AppContext&), const char*> cases[] = {
      {DeleteErrorFile, "SR_ERR"}, {DeleteOutputFile, "SR_OUT"},
      {DeleteCommandFile, "SR_DATI"}, {[](AppContext& c) { DeleteStartFile(c); }, "SR_START"}};
  for (const auto& [kill, base] : cases) {
    SCOPED_TRACE(base);
    AppRig r;
    fakes::WriteFileBytes(r.Data("LOGFILE.TXT"), "older line\r\n");
    fakes::WriteFileBytes(r.File(base, 3), "held");
    r.fp.fs.FailRemove(r.File(base, 3), -1);
    kill(r.ctx);  // logged at the 20th failure, 19 waits later
    EXPECT_EQ(r.fp.fs.removeCalls[r.File(base, 3)], 20);
    EXPECT_EQ(r.fp.loop.NowMs(), 19 * 500);
    EXPECT_EQ(r.fp.loop.waitCalls(), 0);  // blocking: no event ran meanwhile
    EXPECT_TRUE(r.Has(base, 3));
    EXPECT_EQ(fakes::ReadFileBytes(r.Data("LOGFILE.TXT")),
              std::string("older line\r\n07/03/2026 09:05:11 Errore nella Kill di ") + base + ": Permission denied\r\n");
    // The job still counts as ended when its start file stays.
    EXPECT_EQ(r.Has("FINESCO", 3), std::string(base) == "SR_START");
  }
}

// A result file appears only whole, renamed from a fresh exclusive "~KB" + name + "." + 8 digits + ".tmp"
// (a folder under the fixed name of old is no obstacle). A failed rename or flush is one attempt: no file,
// no temporary left, the start file stays without its FINESCO; SR_OUT's records stay in memory.
TEST(JobFiles, ResultFilesWrittenWholeUnderFreshNamesOneAttempt) {
  const struct { const char* base; const char* bytes; Status (*write)(AppContext&); } cases[] = {
      {"SR_ERR", "E504: prova\r\n", [](AppContext& c) { return WriteErrorFile(c, "E504: prova", 3); }},
      {"FINESCO", "finesco", DeleteStartFile},
      {"SR_MATR", "99MZT123456\r\n",
       [](AppContext& c) { return WriteResultFile(c, JobFilePath(c, "SR_MATR", 3), "99MZT123456\r\n"); }},
      {"SR_OUT", "R1\r\nR2\r\n",
       [](AppContext& c) {
         const std::string path = JobFilePath(c, "SR_OUT", 3);
         EXPECT_TRUE(CreateTemporaryFor(c, path, c.link.output, c.link.outputTemporary).ok());
         c.link.outputBytes = "R1\r\nR2\r\n";
         return CloseResultFile(c, c.link.output, path);
       }},
  };
  enum class Fault { kNone, kReplace, kFlush };
  for (const auto& c : cases) {
    for (Fault fault : {Fault::kNone, Fault::kReplace, Fault::kFlush}) {
      SCOPED_TRACE(std::string(c.base) + " fault " + std::to_string(static_cast<int>(fault)));
      AppRig r;
      fakes::WriteFileBytes(r.File("SR_START", 3), "1");
      const std::string planted = r.Data("~KB" + JobFileName(c.base, 3) + ".tmp");
      std::filesystem::create_directory(planted);
      if (fault == Fault::kReplace) r.fp.fs.FailReplace(r.File(c.base, 3), 1, "Read-only file system");
      if (fault == Fault::kFlush) r.fp.fs.FailFlush(1);
      const bool ok = fault == Fault::kNone;
      // The failed step's own reason comes back.
      EXPECT_EQ(c.write(r.ctx).Cause(), ok ? "" : fault == Fault::kFlush ? "No space left on device" : "Read-only file system");
      EXPECT_EQ(r.fp.loop.NowMs(), 0);
      EXPECT_EQ(r.Has(c.base, 3), ok);
      EXPECT_EQ(fakes::ReadFileBytes(r.File(c.base, 3)), ok ? c.bytes : "");
      // Only the planted folder is left of the "~KB" names, untouched.
      for (const auto& e : std::filesystem::directory_iterator(r.ctx.dataDir))
        EXPECT_TRUE(!e.path().filename().string().starts_with("~KB") || e.path().string() == planted) << e.path();
      EXPECT_TRUE(std::filesystem::is_directory(planted));
      EXPECT_EQ(r.Has("SR_START", 3), std::string(c.base) != "FINESCO" || !ok);
      const bool output = std::string(c.base) == "SR_OUT";
      EXPECT_EQ(r.ctx.link.outputUnplaced, output && !ok);
      EXPECT_EQ(r.ctx.link.outputBytes, output ? c.bytes : "");
    }
  }
}

// The fresh names: each call another, of the form start-up clears; of the folder's names only this driver's
// plain temporary files go (never a folder, a link, an old fixed name, another program's "~KB" file).
TEST(JobFiles, TemporaryNamesAndTheirLeftovers) {
  AppRig r;
  const std::string first = TemporaryNameFor(r.File("SR_ERR", 3)), second = TemporaryNameFor(r.File("SR_ERR", 3));
  EXPECT_NE(first, second);
  EXPECT_EQ(first.rfind(r.Data("~KBSR_ERR.003."), 0), 0u) << first;
  const std::string name = first.substr(r.ctx.dataDir.size() + 1);
  EXPECT_TRUE(IsTemporaryName(name)) << name;
  EXPECT_FALSE(IsTemporaryName("~KBSR_ERR.003.tmp"));
  for (const char* other : {"~KBSR_ERR.003.0A1B2C3D.tmp", "~KB.0a1b2c3d.tmp", "~KBX.0a1b2c3.tmp", "KBX.0a1b2c3d.tmp",
                            "~KBX.0a1b2c3d.tmpx", "~KBSR_DATI.001.claim", "~KBX0a1b2c3d4.tmp"})
    EXPECT_FALSE(IsTemporaryName(other)) << other;
  const char* gone[] = {"~KBSR_OUT.003.0a1b2c3d.tmp", "~KBKBJOURNAL.TXT.ffffffff.tmp"};
  for (const char* n : gone) fakes::WriteFileBytes(r.Data(n), "left");
  const char* kept[] = {"~KBSR_ERR.003.tmp", "~KBSR_DATI.003.claim", "~KBSR_ERR.003.0A1B2C3D.tmp", "precious"};
  for (const char* n : kept) fakes::WriteFileBytes(r.Data(n), "kept");
  std::filesystem::create_directory(r.Data("~KBFINESCO.003.12345678.tmp"));
#ifndef _WIN32
  std::filesystem::create_symlink(r.Data("precious"), r.Data("~KBSR_MATR.003.87654321.tmp"));
#endif
  ClearTemporaryLeftovers(r.ctx, r.ctx.dataDir);
  for (const char* n : gone) EXPECT_FALSE(std::filesystem::exists(r.Data(n))) << n;
  for (const char* n : kept) EXPECT_EQ(fakes::ReadFileBytes(r.Data(n)), "kept") << n;
  EXPECT_TRUE(std::filesystem::is_directory(r.Data("~KBFINESCO.003.12345678.tmp")));
#ifndef _WIN32
  EXPECT_TRUE(std::filesystem::is_symlink(r.Data("~KBSR_MATR.003.87654321.tmp")));
#endif
}

// A journal entry's fields, to compare whole entries.
auto Fields(const JournalEntry& e) { return std::tie(e.stage, e.startIdentity, e.commandIdentity, e.outcome); }

// What the job journal keeps and what makes it unreadable (every job it may hold then counts as interrupted).
TEST(JobJournal, TextRoundTripAndDamage) {
  JobJournal j;
  j.slots[0] = JournalEntry{JobStage::kTenderSent, "1:2:3:4.5", "1:2:9:4.1"};
  j.slots[3] = JournalEntry{JobStage::kDone, "", ""};
  j.slots[2] = JournalEntry{JobStage::kDone, "1:2:3:4.6", "", JobOutcomeClass::kUncertain};
  const JobJournal back = ParseJournal(JournalText(j));
  EXPECT_FALSE(back.unreadable);
  for (int s = 0; s < kSlotCount; ++s) {
    ASSERT_EQ(back.slots[s].has_value(), j.slots[s].has_value()) << s;
    if (j.slots[s]) {
      EXPECT_EQ(Fields(*back.slots[s]), Fields(*j.slots[s])) << s;
    }
  }
  // Records of older versions hold no outcome, the oldest no command file identity either.
  const JobJournal old = ParseJournal("2,started,7:8:9:1.2\r\n3,done,7:8:9:1.3,7:8:1:1.1\r\n");
  ASSERT_TRUE(old.slots[1] && old.slots[2]);
  EXPECT_EQ(Fields(*old.slots[1]), Fields({JobStage::kStarted, "7:8:9:1.2", ""}));
  EXPECT_EQ(Fields(*old.slots[2]), Fields({JobStage::kDone, "7:8:9:1.3", "7:8:1:1.1"}));
  EXPECT_FALSE(old.unreadable);
  // A torn or foreign file: slot out of range, unknown stage, no fields.
  for (const char* damaged : {"5,done,x\r\n", "1,half,x\r\n", "1\r\n", "12,done,x\r\n"})
    EXPECT_TRUE(ParseJournal(damaged).unreadable) << damaged;
}

}  // namespace
}  // namespace kolibra
