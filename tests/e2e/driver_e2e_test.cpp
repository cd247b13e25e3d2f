// The driver end to end: the built kolibra and kolibra-ecr-sim programs,
// driven only through the job files of the data directory, stopped mid-job,
// and another user of the data folder planting links under the names the
// driver writes; `kolibra submit` against them, each outcome as the calling
// application sees it, in exit code, stdout and stderr.
#include <csignal>
#include <ctime>

#include "e2e/e2e_fixture.h"

namespace {

using namespace kolibra::e2e;

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

// The driver stopped mid-receipt (the ECR answers every line late, so a
// receipt lasts some seconds). SIGTERM, and SIGHUP (a closed terminal or SSH
// session), ask for the orderly shutdown: the running receipt is finished
// first. After a kill, restarted with the same settings (the kill left the
// journal's temporary file half written) or with another settings folder (the
// journal is the data folder's): E520, nothing of the job sent again, and the
// next job prints.
TEST_F(DriverE2E, StoppedMidReceipt) {
  const struct { int signal; bool otherSettings;
  } cases[] = {{SIGTERM, false}, {SIGHUP, false}, {SIGKILL, false}, {SIGKILL, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.signal) + (c.otherSettings ? " another settings folder" : ""));
    ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(false, {"--answer-delay-ms", "800"}));
    ASSERT_NO_FATAL_FAILURE(SubmitUntilLinesStart(c.signal));
    const int status = driver_.WaitExit(30000);
    if (c.signal != SIGKILL) {
      ASSERT_TRUE(WIFEXITED(status)) << status << DriverLog();
      EXPECT_EQ(WEXITSTATUS(status), 0);
      EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco") << ReadFile(data_ / "SR_ERR.001");
      EXPECT_FALSE(fs::exists(data_ / "SR_START.001"));
      ExpectTaken(FinalStats(), 1, OnceEach(kReceiptLines));
    } else {
      ASSERT_NE(status, -1);
      if (!c.otherSettings) WriteFile(data_ / "~KBKBJOURNAL.TXT.tmp", "1,do");
      const path settings = c.otherSettings ? CopySettings() : settings_;
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
    driver_.Stop();
    for (const char* f : {"FINESCO.001", "SR_OUT.001", "SR_MATR.001", "XON.txt", "KBJOURNAL.TXT"}) fs::remove(data_ / f);
  }
}

// "TRACE_YYYYMM" of the local date, as the driver names its month folder.
std::string MonthFolder() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char name[32];
  std::strftime(name, sizeof name, "TRACE_%Y%m", &local);
  return name;
}

// The first tick dumps slot 1 and writes its serial-number file; two
// receipts on the slot, the second from a UTF-8 command file ("è" is two
// bytes, the ECR gets the one letter it prints for it); a refused command file
// and a missing one each give their error line. Links planted under the
// result files' names and the driver's own files (trace month folder
// included) are not followed: their targets are left alone, and the driver
// writes plain files of its own.
TEST_F(DriverE2E, DumpReceiptsAndRefusalsThroughPlantedLinks) {
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
  trace_ = true;
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver());
  EXPECT_EQ(ReadFile(data_ / "SR_MATR.001"),
            "99MZT123456\r\nStato: RT\r\nDriverType: ZizAdud\r\nVersione: 1.0.0.14\r\nFW: \r\n");
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
  ASSERT_TRUE(RunJob("SALE,N1,P100,:Caff\xc3\xa8;\r\nTEND,N1;\r\n"));
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco") << ReadFile(data_ / "SR_ERR.001");
  EXPECT_EQ(ReadFile(data_ / "XON.txt"), "\"CAFFE\"100H1R\r\n1T\r\n");
  ExpectTaken(StatsAfter(2), 2, OnceEach(kReceiptLines, {"\"CAFFE\"100H1R", "1T"}));

  plant({"SR_ERR.001", "FINESCO.001", "SR_OUT.001"});
  const std::string bad = "QQQQ,N1;\r\n";
  ASSERT_TRUE(RunJob(bad));
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"), "E511: Errore di conversione del file di input\r\n");
  expectRegular("SR_ERR.001");
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), bad);
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));
  // A start file whose command file is missing.
  fs::remove(data_ / "SR_DATI.001");
  WriteFile(data_ / "SR_START.001", "1\r\n");
  ASSERT_TRUE(WaitForGone("SR_START.001")) << DriverLog();
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"), "E506: Trasmissione non avvenuta: file di input non presente\r\n");
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));

  driver_.Stop();
  for (const auto& list : {results, own}) {
    for (const auto& n : list) EXPECT_EQ(ReadFile(outside / n), "precious " + n);
  }
  EXPECT_TRUE(fs::is_empty(outside / "traces"));
  expectRegular("tracedump.txt");
}

class SubmitE2E : public DriverE2E {
 protected:
  // Runs `kolibra submit` on slot 1 with commands; its exit code, stdout
  // (CR dropped) and stderr.
  int RunSubmit(const std::string& commands, const std::string& timeoutS, std::string& out, std::string& err) {
    const path file = root_ / "job.txt";
    const path errLog = root_ / "submit.err";
    WriteFile(file, commands);
    WriteFile(errLog, "");
    ChildProcess submit;
    if (!submit.Start({kBin + "/kolibra", "submit", "--data-dir", data_.string(), "--slot", "1", "--timeout",
                       timeoutS, file.string()},
                      errLog)) {
      return -1;
    }
    out.clear();
    for (std::string line = submit.ReadLine(60000); !line.empty(); line = submit.ReadLine(1000)) out += line + "\n";
    const int status = submit.WaitExit(60000);
    err = ReadFile(errLog);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(SubmitE2E, EachOutcomeItsExitCode) {
  // The simulator cuts the link once, on the first receipt's closing line.
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(false, {"--cut-at-close"}));
  const struct { const char* name; std::string commands; int code; std::string outStart; std::string err; } rows[] = {
      {"refused", "SALE,N1,P1000;\r\nQQQQ,N1;\r\n", 1, "", "E511: Errore di conversione del file di input\n"},
      {"uncertain", kReceipt, 3, "", std::string(kErrE520).substr(0, std::string(kErrE520).size() - 2) + "\n"},
      {"printed", kNextReceipt, 0, "finesco\nTIME,CASS. 1 ", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string out, err;
    EXPECT_EQ(RunSubmit(row.commands, "60", out, err), row.code) << out << err << DriverLog();
    EXPECT_EQ(out.substr(0, row.outStart.size()), row.outStart) << out;
    EXPECT_EQ(err, row.err);
  }

  // No driver: the start file stays and the job may still run.
  driver_.Stop();
  std::string out, err;
  EXPECT_EQ(RunSubmit(kNextReceipt, "1", out, err), 4);
  EXPECT_NE(err.find("il lavoro potrebbe essere ancora eseguito"), std::string::npos) << err;
  EXPECT_TRUE(fs::exists(data_ / "SR_START.001"));
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), kNextReceipt);
}

}  // namespace
