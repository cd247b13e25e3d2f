// The driver process stopped mid-job, end to end: a kill, a termination
// request or hang-up.
#include <csignal>

#include "e2e/e2e_fixture.h"

namespace {

using namespace kolibra::e2e;

// The ECR answers every line late, so a receipt lasts some seconds.
const std::vector<std::string> kSlowEcr{"--answer-delay-ms", "800"};

TEST_F(DriverE2E, KilledMidReceiptIsUncertainAfterRestartAndNeverResent) {
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(false, kSlowEcr));
  ASSERT_NO_FATAL_FAILURE(SubmitUntilLinesStart(SIGKILL));
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
  ExpectTaken(FinalStats(), 1, OnceEach(kNextReceiptLines));
}

// SIGTERM, and SIGHUP (a closed terminal or SSH session), ask for the
// orderly shutdown: the running receipt is finished first.
class ShutdownSignalE2E : public DriverE2E, public ::testing::WithParamInterface<int> {};

TEST_P(ShutdownSignalE2E, MidReceiptFinishesItThenExits) {
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(false, kSlowEcr));
  ASSERT_NO_FATAL_FAILURE(SubmitUntilLinesStart(GetParam()));
  const int status = driver_.WaitExit(30000);
  ASSERT_TRUE(WIFEXITED(status)) << status << DriverLog();
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco") << ReadFile(data_ / "SR_ERR.001");
  EXPECT_FALSE(fs::exists(data_ / "SR_START.001"));
  ExpectTaken(FinalStats(), 1, OnceEach(kReceiptLines));
}

INSTANTIATE_TEST_SUITE_P(Signals, ShutdownSignalE2E, ::testing::Values(SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGHUP ? "SIGHUP" : "SIGTERM");
                         });

}  // namespace
