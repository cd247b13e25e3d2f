// The driver end to end: the built kolibra and kolibra-ecr-sim programs,
// driven only through the job files of the data directory.
#include "e2e/e2e_fixture.h"

namespace {

using namespace kolibra::e2e;

// The first tick dumps slot 1 and writes its serial-number file; two
// receipts on the slot, the second from a UTF-8 command file: "è" is two
// bytes, the ECR gets the one letter it prints for it. A refused command file
// and a missing one each give their error line.
TEST_F(DriverE2E, NetworkDumpReceiptsAndRefusals) {
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver());
  EXPECT_EQ(ReadFile(data_ / "SR_MATR.001"),
            "99MZT123456\r\nStato: RT\r\nDriverType: ZizAdud\r\nVersione: 1.0.0.14\r\nFW: \r\n");
  for (const char* job : {kReceipt, "SALE,N1,P100,:Caff\xc3\xa8;\r\nTEND,N1;\r\n"}) {
    ASSERT_TRUE(RunJob(job));
    EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco") << ReadFile(data_ / "SR_ERR.001");
  }
  EXPECT_EQ(ReadFile(data_ / "XON.txt"), "\"CAFFE\"100H1R\r\n1T\r\n");
  ExpectTaken(StatsAfter(2), 2, OnceEach(kReceiptLines, {"\"CAFFE\"100H1R", "1T"}));

  const std::string bad = "QQQQ,N1;\r\n";
  ASSERT_TRUE(RunJob(bad));
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"), "E511: Errore di conversione del file di input\r\n");
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), bad);
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));
  // A start file whose command file is missing.
  fs::remove(data_ / "SR_DATI.001");
  WriteFile(data_ / "SR_START.001", "1\r\n");
  ASSERT_TRUE(WaitForGone("SR_START.001")) << DriverLog();
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"), "E506: Trasmissione non avvenuta: file di input non presente\r\n");
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));
}

TEST_F(DriverE2E, SilentEcrGivesE504AndKeepsTheCommandFile) {
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver());

  // The ECR goes silent after its dump: a new simulator on the same port
  // accepts the connection and never answers.
  sim_.Stop();
  EcrSimulator silent;
  ASSERT_TRUE(silent.Start({"--port", port_, "--silent"}, 1, root_ / "sim2.log"));
  ASSERT_EQ(std::to_string(silent.Port()), port_);

  // " K" gets 10 echo time-outs of 3 s each before the job fails.
  ASSERT_TRUE(RunJob(kReceipt, 90000));
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"), kErrE504);
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), kReceipt);
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));
}

TEST_F(DriverE2E, StartUpAnswersTheWaitingJobAndShutdownSavesSettings) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  const std::string port = std::to_string(sim_.Port());
  WriteSettings(true, "1000");
  // Leftovers of an earlier run.
  for (const char* f : {"SR_START.001", "SR_MATR.001", "SR_ERR.001", "SR_OUT.001", "FINESCO.001"})
    WriteFile(data_ / f, "old");
  WriteFile(data_ / "SR_DATI.001", "old");
  // The earlier run's journal: its last job on the slot had ended.
  WriteFile(data_ / "KBJOURNAL.TXT", "1,done,earlier\r\n");
  StartDriver({"--ecr-port", port});
  // The old serial-number file goes at start-up and the dump writes a new one.
  ASSERT_TRUE(WaitFor([&] { return ReadFile(data_ / "SR_MATR.001").rfind("99MZT", 0) == 0; }, 20000))
      << DriverLog();
  // The job left waiting by the earlier run is answered, never run: E521,
  // its start file gone, its command file kept, stale results gone.
  EXPECT_FALSE(fs::exists(data_ / "SR_START.001"));
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), "old");
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"),
            "E521: Lavoro non eseguito: Kolibra riavviato o chiuso, ripetere l'invio\r\n");
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001") || fs::exists(data_ / "SR_OUT.001"));

  WriteFile(data_ / "SR_DATI.001", "kept");
  int status = driver_.Stop();
  ASSERT_NE(status, -1) << "driver did not stop on SIGTERM\n" << DriverLog();
  EXPECT_FALSE(fs::exists(data_ / "SR_MATR.001"));
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), "kept");
  EXPECT_EQ(ReadFile(settings_ / "KBCHKCOM.TXT"), "1000\r\n");
  EXPECT_EQ(ReadFile(settings_ / "KBChkBd.txt"), "9600\r\n");
  EXPECT_EQ(ReadFile(settings_ / "KBCHKSCO.TXT"), "0\r\n1\r\n0\r\n1\r\n127.0.0.1\r\n0\r\n0\r\n");
}

TEST_F(DriverE2E, SecondCopyEndsAndTheFirstGoesOn) {
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver());

  // A second driver on the same data folder, with settings of its own.
  ChildProcess second;
  ASSERT_TRUE(second.Start(DriverArgv(CopySettings(), {"--ecr-port", port_}), root_ / "second.log"));
  const int status = second.WaitExit(3000);
  ASSERT_TRUE(WIFEXITED(status)) << "second copy still running\n" << ReadFile(root_ / "second.log");
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_TRUE(driver_.Running());
  EXPECT_TRUE(fs::exists(data_ / "SR_MATR.001"));

  ASSERT_TRUE(RunJob(kReceipt));
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
  EXPECT_EQ(StatsAfter(1).lines, OnceEach(kReceiptLines));
}

}  // namespace
