// The driver process stopped or disturbed mid-job, end to end: a kill,
// a termination request or hang-up, links planted under the result files' names.
#include <csignal>

#include "e2e/e2e_fixture.h"

namespace {

using namespace kolibra::e2e;

// The ECR answers every line late, so a receipt lasts some seconds.
const std::vector<std::string> kSlowEcr{"--answer-delay-ms", "800"};

// The ECR closed one receipt and took each of these lines once.
void ExpectOneReceipt(const SimStats& stats, const std::vector<std::string>& lines) {
  EXPECT_EQ(stats.receipts, 1);
  EXPECT_EQ(stats.duplicates, 0);
  EXPECT_EQ(stats.lines, OnceEach(lines));
}

TEST_F(DriverE2E, KilledMidReceiptIsUncertainAfterRestartAndNeverResent) {
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(false, kSlowEcr));
  Submit(1, kReceipt);
  // SR_OUT is written, under its temporary name, once the lines start.
  ASSERT_TRUE(WaitForFile("~KBSR_OUT.001.tmp")) << DriverLog();
  driver_.Kill(SIGKILL);
  ASSERT_NE(driver_.WaitExit(5000), -1);

  ASSERT_NO_FATAL_FAILURE(StartDriver({"--ecr-port", port_}));
  ASSERT_TRUE(WaitForGone("SR_START.001")) << DriverLog();
  ASSERT_TRUE(WaitFor([&] { return ReadFile(data_ / "SR_ERR.001") == kErrE520; }, 10000))
      << ReadFile(data_ / "SR_ERR.001");
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), kReceipt);
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));

  // The restarted driver serves the next job and sends none of the killed one.
  ASSERT_TRUE(RunJob(kNextReceipt));
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
  ExpectOneReceipt(FinalStats(), kNextReceiptLines);
}

// SIGTERM, and SIGHUP (a closed terminal or SSH session), ask for the
// orderly shutdown: the running receipt is finished first.
class ShutdownSignalE2E : public DriverE2E, public ::testing::WithParamInterface<int> {};

TEST_P(ShutdownSignalE2E, MidReceiptFinishesItThenExits) {
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(false, kSlowEcr));
  Submit(1, kReceipt);
  ASSERT_TRUE(WaitForFile("~KBSR_OUT.001.tmp")) << DriverLog();
  driver_.Kill(GetParam());
  const int status = driver_.WaitExit(30000);
  ASSERT_TRUE(WIFEXITED(status)) << status << DriverLog();
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco") << ReadFile(data_ / "SR_ERR.001");
  EXPECT_FALSE(fs::exists(data_ / "SR_START.001"));
  ExpectOneReceipt(FinalStats(), kReceiptLines);
}

INSTANTIATE_TEST_SUITE_P(Signals, ShutdownSignalE2E, ::testing::Values(SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGHUP ? "SIGHUP" : "SIGTERM");
                         });

TEST_F(DriverE2E, LinksPlantedUnderResultNamesLeaveTheirTargetsAlone) {
  const path outside = root_ / "precious";
  fs::create_directories(outside);
  const std::vector<std::string> names{"SR_ERR.001", "FINESCO.001", "SR_OUT.001", "SR_MATR.001"};
  const auto plant = [&](const std::vector<std::string>& which) {
    for (const auto& n : which) {
      fs::remove(data_ / n);
      fs::create_symlink(outside / n, data_ / n);
    }
  };
  for (const auto& n : names) WriteFile(outside / n, "precious " + n);
  const auto expectRegular = [&](const std::string& n) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(data_ / n))) << n;
  };

  // SR_MATR's link goes at start-up; the dump writes a file of its own.
  plant(names);
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver());
  ASSERT_TRUE(WaitFor([&] { return fs::is_regular_file(fs::symlink_status(data_ / "SR_MATR.001")); }, 10000));

  ASSERT_TRUE(RunJob(kReceipt));
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
  for (const char* n : {"FINESCO.001", "SR_OUT.001", "SR_MATR.001"}) expectRegular(n);

  plant({"SR_ERR.001", "FINESCO.001", "SR_OUT.001"});
  ASSERT_TRUE(RunJob("QQQQ,N1;\r\n"));
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"), "E511: Errore di conversione del file di input\r\n");
  expectRegular("SR_ERR.001");
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));

  driver_.Stop();
  for (const auto& n : names) EXPECT_EQ(ReadFile(outside / n), "precious " + n);
}

}  // namespace
