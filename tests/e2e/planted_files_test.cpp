// Another user of the data folder, end to end: links planted under the names
// the driver writes, a data folder replaced at its path, a lock file deleted.
#include <csignal>
#include <ctime>

#include "e2e/e2e_fixture.h"

namespace {

using namespace kolibra::e2e;

const char kLockLost[] = "Cartella dati non piu' bloccata da questa copia di Kolibra";

// "TRACE_YYYYMM" of the local date, as the driver names its month folder.
std::string MonthFolder() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char name[32];
  std::strftime(name, sizeof name, "TRACE_%Y%m", &local);
  return name;
}

TEST_F(DriverE2E, LinksPlantedUnderTheDriversOwnFilesAreNotFollowed) {
  const path outside = root_ / "precious";
  fs::create_directories(outside / "traces");
  const std::vector<std::string> files{"tracedump.txt", "XON.txt", "~KBSR_OUT.001.tmp",
                                       "~KBFINESCO.001.tmp"};
  for (const auto& n : files) {
    WriteFile(outside / n, "precious " + n);
    fs::create_symlink(outside / n, data_ / n);
  }
  fs::create_directory_symlink(outside / "traces", data_ / MonthFolder());

  ASSERT_NO_FATAL_FAILURE(StartSim());
  WriteSettings(true, "1111", true);
  ASSERT_NO_FATAL_FAILURE(StartDriver({"--ecr-port", port_}));
  ASSERT_TRUE(WaitFor([&] { return ReadFile(data_ / "SR_MATR.001").ends_with("FW: \r\n"); }, 30000))
      << DriverLog();
  ASSERT_TRUE(RunJob(kReceipt));
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
  driver_.Stop();

  for (const auto& n : files) EXPECT_EQ(ReadFile(outside / n), "precious " + n);
  EXPECT_TRUE(fs::is_empty(outside / "traces"));
  for (const char* n : {"tracedump.txt", "XON.txt"}) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(data_ / n))) << n;
  }
  EXPECT_EQ(ReadFile(data_ / "XON.txt"), "\"PANE\"1000H1R\r\n\"  2 X 2.5\"@\r\n\"LATTE\"1*500H2R\r\n1500H1T\r\n");
  // The job's trace went to the data folder itself.
  int traces = 0;
  for (const auto& e : fs::directory_iterator(data_)) {
    const std::string name = e.path().filename().string();
    if (name.starts_with("TRACE_") && name.ends_with(".TXT") && e.is_regular_file()) ++traces;
  }
  EXPECT_EQ(traces, 1);
}

// A second driver, with its own settings folder, locks the data folder while
// the first is stopped: the folder was replaced at its path, or its lock file
// deleted. Once going again, the first takes no job there; the job prints
// once.
TEST_F(DriverE2E, ADataFolderLockedByAnotherDriverIsNotServedTwice) {
  const struct {
    const char* name;
    void (*disturb)(const path& data);
  } cases[] = {
      {"folder replaced",
       [](const path& data) {
         fs::rename(data, path(data.string() + ".old"));
         fs::create_directory(data);
       }},
      {"lock file deleted",
       [](const path& data) {
         fs::remove(data / "kolibra-data.lock");
         fs::remove(data / "SR_MATR.001");
       }},
  };
  ASSERT_NO_FATAL_FAILURE(StartSim());
  WriteSettings(true);
  const path settings2 = root_ / "settings2";
  fs::create_directories(settings2);
  for (const char* name : {"KBCHKCOM.TXT", "KBCHKSCO.TXT", "KBTIMER1.TXT"}) {
    fs::copy_file(settings_ / name, settings2 / name);
  }
  int receipts = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(path(data_.string() + ".old"));
    fs::remove_all(data_);
    fs::create_directories(data_);
    ASSERT_NO_FATAL_FAILURE(StartDriver({"--ecr-port", port_}));
    ASSERT_TRUE(WaitFor([&] { return ReadFile(data_ / "SR_MATR.001").ends_with("FW: \r\n"); }, 30000))
        << DriverLog();

    driver_.Kill(SIGSTOP);
    c.disturb(data_);
    ChildProcess second;
    ASSERT_TRUE(second.Start(DriverArgv(settings2, {"--ecr-port", port_}), root_ / "driver2.log"));
    ASSERT_TRUE(WaitFor([&] { return ReadFile(data_ / "SR_MATR.001").ends_with("FW: \r\n"); }, 30000))
        << ReadFile(root_ / "driver2.log");
    driver_.Kill(SIGCONT);
    ASSERT_TRUE(WaitFor([&] { return DriverLog().find(kLockLost) != std::string::npos; }, 10000))
        << DriverLog();

    ASSERT_TRUE(RunJob(kReceipt));
    EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
    second.Stop();
    driver_.Stop();
    ++receipts;
    SimStats stats = StatsAfter(receipts);
    EXPECT_EQ(stats.receipts, receipts);
    EXPECT_EQ(stats.duplicates, 0);
    for (const auto& line : kReceiptLines) EXPECT_EQ(stats.lines[line], receipts) << line;
    fs::remove(root_ / "driver.log");
  }
}

}  // namespace
