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

// Links planted under the result files' names and the driver's own files
// (trace month folder included): their targets are left alone, and the
// driver writes plain files of its own.
TEST_F(DriverE2E, LinksPlantedUnderTheNamesTheDriverWritesAreNotFollowed) {
  const path outside = root_ / "precious";
  fs::create_directories(outside / "traces");
  const std::vector<std::string> results{"SR_ERR.001", "FINESCO.001", "SR_OUT.001", "SR_MATR.001"};
  const std::vector<std::string> own{"tracedump.txt", "XON.txt", "~KBSR_OUT.001.tmp", "~KBFINESCO.001.tmp"};
  const auto plant = [&](const std::vector<std::string>& which) {
    for (const auto& n : which) {
      fs::remove(data_ / n);
      fs::create_symlink(outside / n, data_ / n);
    }
  };
  for (const auto& list : {results, own}) {
    for (const auto& n : list) WriteFile(outside / n, "precious " + n);
    plant(list);
  }
  fs::create_directory_symlink(outside / "traces", data_ / MonthFolder());
  const auto expectRegular = [&](const std::string& n) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(data_ / n))) << n;
  };

  // SR_MATR's link goes at start-up; the dump writes a file of its own.
  ASSERT_NO_FATAL_FAILURE(StartSim());
  WriteSettings(true, "1111", true);
  ASSERT_NO_FATAL_FAILURE(StartDriver({"--ecr-port", port_}));
  ASSERT_TRUE(WaitForDump()) << DriverLog();
  ASSERT_TRUE(RunJob(kReceipt));
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
  for (const char* n : {"FINESCO.001", "SR_OUT.001", "SR_MATR.001", "XON.txt"}) expectRegular(n);
  EXPECT_EQ(ReadFile(data_ / "XON.txt"), "\"PANE\"1000H1R\r\n\"  2 X 2.5\"@\r\n\"LATTE\"1*500H2R\r\n1500H1T\r\n");
  // The job's trace went to the data folder itself.
  int traces = 0;
  for (const auto& e : fs::directory_iterator(data_)) {
    const std::string name = e.path().filename().string();
    if (name.starts_with("TRACE_") && name.ends_with(".TXT") && e.is_regular_file()) ++traces;
  }
  EXPECT_EQ(traces, 1);

  plant({"SR_ERR.001", "FINESCO.001", "SR_OUT.001"});
  ASSERT_TRUE(RunJob("QQQQ,N1;\r\n"));
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"), "E511: Errore di conversione del file di input\r\n");
  expectRegular("SR_ERR.001");
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));

  driver_.Stop();
  for (const auto& list : {results, own}) {
    for (const auto& n : list) EXPECT_EQ(ReadFile(outside / n), "precious " + n);
  }
  EXPECT_TRUE(fs::is_empty(outside / "traces"));
  expectRegular("tracedump.txt");
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
  const path settings2 = CopySettings();
  int receipts = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(path(data_.string() + ".old"));
    fs::remove_all(data_);
    fs::create_directories(data_);
    ASSERT_NO_FATAL_FAILURE(StartDriver({"--ecr-port", port_}));
    ASSERT_TRUE(WaitForDump()) << DriverLog();

    driver_.Kill(SIGSTOP);
    c.disturb(data_);
    ChildProcess second;
    ASSERT_TRUE(second.Start(DriverArgv(settings2, {"--ecr-port", port_}), root_ / "driver2.log"));
    ASSERT_TRUE(WaitForDump()) << ReadFile(root_ / "driver2.log");
    driver_.Kill(SIGCONT);
    ASSERT_TRUE(WaitFor([&] { return DriverLog().find(kLockLost) != std::string::npos; }, 10000))
        << DriverLog();

    ASSERT_TRUE(RunJob(kReceipt));
    EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
    second.Stop();
    driver_.Stop();
    ++receipts;
    std::map<std::string, int> lines;
    for (const auto& line : kReceiptLines) lines[line] = receipts;
    ExpectTaken(StatsAfter(receipts), receipts, lines);
    fs::remove(root_ / "driver.log");
  }
}

}  // namespace
