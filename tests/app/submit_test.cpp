// `kolibra submit` against a scripted driver on the fakes: each ending's exit code and texts; old results never
// read as the job's, read ones removed; the command file whole and group-readable (umask 077) when the start
// file appears; another client's claim waited for, given up at the time-out with nothing sent.
#include "app/submit_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/messages.h"
#include "fakes/fake_platform.h"

namespace kolibra {
namespace {

const char kCommands[] = "SALE,N1,P1000;\r\nTEND,N1;\r\n";
const char kOut[] = "TIME,CASS. 1 13:54 CASSA   1 ,E,A1;\r\nDATE,06/12/26  SCONTR. N. 0001,E,A1;\r\n";

// What the driver does at a virtual instant: writes result files, then ends the job of slot 2 (its start file).
struct DriverStep { int64_t atMs; std::map<std::string, std::string> writes; };

struct Row {
  const char* name;
  std::map<std::string, std::string> before;  // files there at the start
  std::vector<DriverStep> driver;
  int code;
  std::string out, err;
  bool failRemoveFinesco = false;
  int64_t claimHeldMs = 0;  // another client holds the slot's claim this long (-1: throughout)
};

std::string Line(const char* text) { return std::string(text) + "\r\n"; }
// What submit writes on its own: text after its name.
std::string Said(const std::string& text) { return "kolibra submit: " + text + "\n"; }

const Row kRows[] = {
    {"Printed", {{"SR_ERR.002", Line(kErrUncertain)}}, {{300, {{"FINESCO.002", "finesco"}, {"SR_OUT.002", kOut}}}},
     kSubmitPrinted, "finesco\nTIME,CASS. 1 13:54 CASSA   1 ,E,A1;\nDATE,06/12/26  SCONTR. N. 0001,E,A1;\n", ""},
    {"Refused", {{"FINESCO.002", "finesco"}}, {{300, {{"SR_ERR.002", Line(kErrConversion)}}}},
     kSubmitNotPrinted, "", std::string(kErrConversion) + "\n"},
    {"NotRunSafeToResend", {}, {{300, {{"SR_ERR.002", Line(kErrNotRun)}}}},
     kSubmitNotPrinted, "", std::string(kErrNotRun) + "\n"},
    // An error line that cannot be read may be E520's.
    {"EmptyErrorLine", {}, {{300, {{"SR_ERR.002", ""}}}}, kSubmitUncertain, "", std::string(kErrUncertain) + "\n"},
    {"SlotBusy", {{"SR_START.002", "1\r\n"}, {"SR_DATI.002", "theirs"}}, {}, kSubmitNotPrinted, "",
     Said(kSubmitSlotBusy)},
    // An earlier job ends while we wait for the slot; ours then goes
    // without a result: the earlier job's FINESCO is not ours.
    {"EarlierResultNotOurs", {{"SR_START.002", "1\r\n"}}, {{300, {{"FINESCO.002", "finesco"}}}, {600, {}}},
     kSubmitUncertain, "", Said(kSubmitNoResult)},
    {"OldResultStays", {{"FINESCO.002", "finesco"}}, {}, kSubmitNotPrinted, "",
     std::string("kolibra submit: ") + kSubmitNotSent, true},
    {"ClaimHeldThroughout", {}, {}, kSubmitNotPrinted, "", Said(kSubmitSlotBusy), false, -1},
    // The other client lets go; a claim file left behind is no claim.
    {"ClaimLetGo", {{"~KBCLAIM.002", ""}}, {{1500, {{"SR_ERR.002", Line(kErrConversion)}}}}, kSubmitNotPrinted, "",
     std::string(kErrConversion) + "\n", false, 1000},
};

// Keeps the test names in ctest's listing short.
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class SubmitTable : public ::testing::TestWithParam<Row> {};

TEST_P(SubmitTable, ExitCodeTextsAndFiles) {
  const Row& row = GetParam();
  fakes::FakePlatform p;
  fakes::ScratchDir dir;
  for (const auto& [name, bytes] : row.before) fakes::WriteFileBytes(dir.File(name), bytes);
  if (row.failRemoveFinesco) p.fs.FailRemove(dir.File("FINESCO.002"), -1);
  for (const DriverStep& step : row.driver) {
    p.loop.Schedule(step.atMs, [&dir, &row, step] {
      if (!std::filesystem::exists(dir.File("SR_START.002"))) return;
      // Our command file is whole whenever the driver can take it.
      if (row.before.count("SR_START.002") == 0) {
        EXPECT_EQ(fakes::ReadFileBytes(dir.File("SR_DATI.002")), kCommands);
        const auto perms = std::filesystem::status(dir.File("SR_DATI.002")).permissions();
        EXPECT_NE(perms & std::filesystem::perms::group_read, std::filesystem::perms::none);
      }
      for (const auto& [name, bytes] : step.writes) fakes::WriteFileBytes(dir.File(name), bytes);
      std::filesystem::remove(dir.File("SR_START.002"));
    });
  }

  ClaimResult other;
  if (row.claimHeldMs != 0) {
    other = p.fs.TryClaim(dir.File("~KBCLAIM.002"));
    ASSERT_EQ(other.status, ClaimStatus::kHeld);
    if (row.claimHeldMs > 0) p.loop.Schedule(row.claimHeldMs, [&other] { other.claim.reset(); });
  }

  std::ostringstream out, err;
  const mode_t umaskBefore = ::umask(077);
  const int code = SubmitJob(p.fs, p.loop, {dir.path(), 2, 5000, kCommands}, out, err);
  ::umask(umaskBefore);
  EXPECT_EQ(code, row.code);
  EXPECT_EQ(out.str(), row.out);
  EXPECT_EQ(err.str().substr(0, row.err.size()), row.err) << err.str();
  // Another job's files stay as they were.
  const bool theirs = row.before.count("SR_DATI.002") > 0;
  EXPECT_EQ(std::filesystem::exists(dir.File("SR_START.002")), theirs);
  if (theirs) {
    EXPECT_EQ(fakes::ReadFileBytes(dir.File("SR_DATI.002")), "theirs");
  }
  EXPECT_FALSE(row.claimHeldMs < 0 && std::filesystem::exists(dir.File("SR_DATI.002")));  // nothing sent
  // Results read are gone, so that the next client finds the slot clean.
  for (const char* name : {"FINESCO.002", "SR_ERR.002", "SR_OUT.002"})
    EXPECT_TRUE(err.str().starts_with("kolibra submit: ") || !std::filesystem::exists(dir.File(name))) << name;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Outcomes, SubmitTable, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SubmitCommandLine, UsageErrorsAndMissingFolder) {
  fakes::ScratchDir dir;
  const std::string file = dir.File("job.txt");
  fakes::WriteFileBytes(file, kCommands);
  const struct { std::vector<std::string> args; int code; std::string err; } cases[] = {
      {{}, kSubmitUsage, "manca il file di comandi\n"},
      {{"--slot", "5", file}, kSubmitUsage, "--slot vuole un numero di porta da 1 a 4\n"},
      {{"--slot=0", file}, kSubmitUsage, "--slot vuole un numero di porta da 1 a 4\n"},
      {{"--timeout", "0", file}, kSubmitUsage, "--timeout vuole i secondi, da 1 a 86400\n"},
      {{file, "--timeout"}, kSubmitUsage, "--timeout vuole i secondi, da 1 a 86400\n"},
      {{"--data-dir="}, kSubmitUsage, "--data-dir vuole una cartella\n"},
      {{"--bogus", file}, kSubmitUsage, "opzione sconosciuta '--bogus'\n"},
      {{file, file}, kSubmitUsage, "un solo file, non anche '" + file + "'\n"},
      {{dir.File("none")}, kSubmitUsage, "file di comandi non leggibile: " + dir.File("none") + "\n"},
      {{"--data-dir", dir.File("gone"), file}, kSubmitNotPrinted, dir.File("gone") + " : DIR NON ESISTENTE\n"},
  };
  for (const auto& c : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(RunSubmitCommand(c.args, out, err), c.code) << err.str();
    EXPECT_EQ(err.str().substr(0, 16 + c.err.size()), "kolibra submit: " + c.err);
    EXPECT_EQ(out.str(), "");
  }
}

}  // namespace
}  // namespace kolibra
