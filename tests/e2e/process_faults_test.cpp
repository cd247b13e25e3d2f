// The driver process stopped mid-job, end to end: a kill, a termination
// request or hang-up. The ECR answers every line late, so a receipt lasts
// some seconds.
#include <csignal>

#include "e2e/e2e_fixture.h"

namespace {

using namespace kolibra::e2e;

class ProcessFaults : public DriverE2E {
 protected:
  // The slow simulator on loopback; the driver on slot 1 only; slot 1 dumped.
  void StartOnSlotOne() {
    ASSERT_NO_FATAL_FAILURE(StartSim(false, {"--answer-delay-ms", "800"}));
    WriteSettings(true, "1000");
    ASSERT_NO_FATAL_FAILURE(StartDriver({"--ecr-port", port_}));
    ASSERT_TRUE(WaitForDump()) << DriverLog();
  }
  void RestartAfterKill(bool otherSettings);
};

// A kill mid-receipt, restarted with the same settings after a kill that left
// the journal's temporary file half written, or with another settings folder
// (the journal is the data folder's): E520, nothing of the job sent again,
// and the next job prints.
void ProcessFaults::RestartAfterKill(bool otherSettings) {
  ASSERT_NO_FATAL_FAILURE(StartOnSlotOne());
  ASSERT_NO_FATAL_FAILURE(SubmitUntilLinesStart(SIGKILL));
  ASSERT_NE(driver_.WaitExit(5000), -1);
  if (!otherSettings) WriteFile(data_ / "~KBKBJOURNAL.TXT.tmp", "1,do");
  const path settings = otherSettings ? CopySettings() : settings_;
  ASSERT_TRUE(driver_.Start(DriverArgv(settings, {"--ecr-port", port_}), root_ / "driver.log"));
  // Answered: E520 and its start file gone.
  ASSERT_TRUE(WaitFor([&] { return ReadFile(data_ / "SR_ERR.001") == kErrE520 && !fs::exists(data_ / "SR_START.001"); },
                      10000))
      << DriverLog();
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), kReceipt);
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));
  ASSERT_TRUE(RunJob(kNextReceipt));
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
  ExpectTaken(FinalStats(), 1, OnceEach(kNextReceiptLines));
}

TEST_F(ProcessFaults, KilledThenRestartedWithAnotherSettingsFolder) { RestartAfterKill(true); }
TEST_F(ProcessFaults, KilledWithAHalfWrittenJournalTemporary) { RestartAfterKill(false); }

// SIGTERM, and SIGHUP (a closed terminal or SSH session), ask for the
// orderly shutdown: the running receipt is finished first.
TEST_F(ProcessFaults, ShutdownSignalMidReceiptFinishesItThenExits) {
  for (int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    ASSERT_NO_FATAL_FAILURE(StartOnSlotOne());
    ASSERT_NO_FATAL_FAILURE(SubmitUntilLinesStart(signal));
    const int status = driver_.WaitExit(30000);
    ASSERT_TRUE(WIFEXITED(status)) << status << DriverLog();
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco") << ReadFile(data_ / "SR_ERR.001");
    EXPECT_FALSE(fs::exists(data_ / "SR_START.001"));
    ExpectTaken(FinalStats(), 1, OnceEach(kReceiptLines));
    for (const char* f : {"FINESCO.001", "SR_OUT.001", "SR_MATR.001", "XON.txt", "KBJOURNAL.TXT"}) fs::remove(data_ / f);
  }
}

}  // namespace
