// Job integrity end to end: the test receipt against a till's job, a job
// withdrawn while it runs, result files that cannot be cleared, the journal
// damaged or lost, the driver stopped mid-job, and the data folder gone at a
// job's end.
#include <sys/stat.h>

#include <csignal>

#include "e2e/e2e_fixture.h"

namespace {

using namespace kolibra::e2e;

const std::vector<std::string> kSlowEcr{"--answer-delay-ms", "800"};
const char kTestLine[] = "K\"PROVA\"10H1R0M\"PROVA\"10H1R=1T";

class JobIntegrity : public DriverE2E {
 protected:
  // The simulator on loopback; the driver on slot 1 only, with the given
  // polling value; slot 1 dumped.
  void StartOnSlotOne(const std::string& polling = "200ms", const std::vector<std::string>& simArgs = {}) {
    ASSERT_NO_FATAL_FAILURE(StartSim(false, simArgs));
    polling_ = polling;
    WriteSettings(true, "1000");
    ASSERT_NO_FATAL_FAILURE(StartDriver({"--ecr-port", port_}));
    ASSERT_TRUE(WaitForDump()) << DriverLog();
  }
  // `kolibra ctl test-receipt`: its exit code.
  int PressTest() {
    ChildProcess ctl;
    if (!ctl.Start({kBin + "/kolibra", "ctl", "--settings-dir", settings_.string(), "test-receipt"})) return -1;
    const int status = ctl.WaitExit(10000);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void TestReceiptAgainstTillJob(bool tillFirst) {
    ASSERT_NO_FATAL_FAILURE(StartOnSlotOne("3"));
    if (tillFirst) {
      Submit(1, kReceipt);
      EXPECT_NE(PressTest(), 0);
      EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), kReceipt);
    } else {
      ASSERT_EQ(PressTest(), 0) << DriverLog();
      Submit(1, kReceipt);
    }
    ASSERT_TRUE(WaitForGone("SR_START.001")) << DriverLog();
    EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco") << ReadFile(data_ / "SR_ERR.001");
    EXPECT_NE(ReadFile(data_ / "SR_OUT.001"), "");
    const SimStats stats = FinalStats();
    EXPECT_EQ(stats.lines, OnceEach(kReceiptLines));
    EXPECT_EQ(stats.lines.count(kTestLine), 0u);
  }
  void RestartAfterKill(bool otherSettings);
  // The job waits while `obstacle` is in the way: nothing sent, logged once;
  // it prints once the obstacle goes.
  void ExpectHeldUntilRemoved(const path& obstacle, const std::string& logged, const std::vector<std::string>& lines) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(fs::exists(data_ / "SR_START.001"));
    EXPECT_EQ(LogCount(logged), 1) << DriverLog();
    fs::remove_all(obstacle);
    ASSERT_TRUE(WaitForGone("SR_START.001")) << DriverLog();
    EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
    EXPECT_EQ(FinalStats().lines, OnceEach(lines));
  }
};

// A till's job waiting when the operator asks for a test receipt: refused,
// the job untouched, and it prints as itself. The other order: the till's
// job written over the test receipt's files runs converted, the test line is
// never sent.
TEST_F(JobIntegrity, TestReceiptRefusedOverAWaitingTillJob) { TestReceiptAgainstTillJob(true); }
TEST_F(JobIntegrity, TillJobWrittenOverTheTestReceiptPrintsConverted) { TestReceiptAgainstTillJob(false); }

// The till deletes the start file of its slow job and writes the next one:
// the first job gets no result file, the next one stays, runs once and gets
// its own FINESCO.
TEST_F(JobIntegrity, WithdrawnJobLeavesTheNextOneToPrintOnce) {
  ASSERT_NO_FATAL_FAILURE(StartOnSlotOne("200ms", kSlowEcr));
  ASSERT_NO_FATAL_FAILURE(SubmitUntilLinesStart());
  fs::remove(data_ / "SR_START.001");
  Submit(1, kNextReceipt);
  ASSERT_TRUE(WaitFor([&] { return ReadFile(data_ / "LOGFILE.TXT").find("ritirato") != std::string::npos; },
                      30000))
      << DriverLog();
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), kNextReceipt);
  ASSERT_TRUE(WaitForGone("SR_START.001")) << DriverLog();
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
  const SimStats stats = StatsAfter(2);
  EXPECT_EQ(stats.duplicates, 0);
  EXPECT_EQ(stats.lines, OnceEach(kReceiptLines, kNextReceiptLines));
}

// An old SR_ERR that cannot be deleted (a folder with something inside, for
// root too): the job waits, nothing sent, logged once; it prints once the
// name is free.
TEST_F(JobIntegrity, UndeletableStaleErrorFileHoldsTheJob) {
  ASSERT_NO_FATAL_FAILURE(StartOnSlotOne());
  fs::create_directories(data_ / "SR_ERR.001" / "inside");
  Submit(1, kReceipt);
  ExpectHeldUntilRemoved(data_ / "SR_ERR.001", "non cancellabile", kReceiptLines);
}

// The journal as a FIFO or a folder: start-up neither blocks nor trusts it
// (the waiting job is E520); a FIFO is replaced by the driver's own journal,
// readable by its user only; a folder keeps new jobs waiting until it goes.
TEST_F(JobIntegrity, JournalAsFifoIsReplaced) {
  const path journal = data_ / "KBJOURNAL.TXT";
  ASSERT_EQ(mkfifo(journal.c_str(), 0600), 0);
  Submit(1, kReceipt);
  ASSERT_NO_FATAL_FAILURE(StartOnSlotOne());
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"), kErrE520);
  EXPECT_TRUE(fs::is_regular_file(journal));
  EXPECT_EQ(fs::status(journal).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(JobIntegrity, JournalAsFolderHoldsJobsUntilItGoes) {
  const path journal = data_ / "KBJOURNAL.TXT";
  fs::create_directories(journal / "inside");
  Submit(1, kReceipt);
  ASSERT_NO_FATAL_FAILURE(StartOnSlotOne());
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"), kErrE520);
  Submit(1, kNextReceipt);
  ExpectHeldUntilRemoved(journal, "Impossibile scrivere " + journal.string(), kNextReceiptLines);
}

// A kill mid-receipt, restarted with the same settings after a kill that left
// the journal's temporary file half written, or with another settings folder
// (the journal is the data folder's): E520, nothing of the job sent again,
// and the next job prints.
void JobIntegrity::RestartAfterKill(bool otherSettings) {
  ASSERT_NO_FATAL_FAILURE(StartOnSlotOne("200ms", kSlowEcr));
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

TEST_F(JobIntegrity, KilledThenRestartedWithAnotherSettingsFolder) { RestartAfterKill(true); }
TEST_F(JobIntegrity, KilledWithAHalfWrittenJournalTemporary) { RestartAfterKill(false); }

// SIGTERM, and SIGHUP (a closed terminal or SSH session), ask for the
// orderly shutdown: the running receipt is finished first.
TEST_F(JobIntegrity, ShutdownSignalMidReceiptFinishesItThenExits) {
  for (int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    ASSERT_NO_FATAL_FAILURE(StartOnSlotOne("200ms", kSlowEcr));
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

// The data folder renamed away while a receipt prints and back later: no
// result is lost, FINESCO comes before the start file goes.
TEST_F(JobIntegrity, DataFolderAwayAtTheJobsEnd) {
  ASSERT_NO_FATAL_FAILURE(StartOnSlotOne("200ms", kSlowEcr));
  ASSERT_NO_FATAL_FAILURE(SubmitUntilLinesStart());
  const path away = root_ / "data.away";
  fs::rename(data_, away);
  ASSERT_TRUE(WaitFor([&] { return LogCount("esito conservato") == 1; }, 20000)) << DriverLog();
  EXPECT_TRUE(fs::exists(away / "SR_START.001"));
  EXPECT_FALSE(fs::exists(away / "FINESCO.001"));
  fs::rename(away, data_);
  ASSERT_TRUE(WaitForGone("SR_START.001")) << DriverLog();
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
  EXPECT_NE(ReadFile(data_ / "SR_OUT.001").find("SCONTR. N."), std::string::npos);
  EXPECT_FALSE(fs::exists(data_ / "SR_DATI.001"));
  EXPECT_EQ(FinalStats().lines, OnceEach(kReceiptLines));
}

}  // namespace
