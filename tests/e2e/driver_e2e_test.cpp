// The driver end to end: the built kolibra and kolibra-ecr-sim programs,
// driven only through the job files of the data directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;
using fs::path;
using kolibra::support::ChildProcess;
using kolibra::support::EcrSimulator;
using kolibra::support::ReadFile;
using kolibra::support::WaitFor;
using kolibra::support::WriteFile;

const std::string kBin = KOLIBRA_BINARY_DIR;

class DriverE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kolibra-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    data_ = root_ / "data";
    settings_ = root_ / "settings";
    fs::create_directories(data_);
    fs::create_directories(settings_);
  }

  void TearDown() override {
    driver_.Stop();
    sim_.Stop();
    if (!HasFailure()) fs::remove_all(root_);
    else std::fprintf(stderr, "kept %s for inspection\n", root_.c_str());
  }

  // Starts the simulator on a free loopback port, or on a pty only.
  void StartSim(bool pty = false) {
    const std::vector<std::string> args =
        pty ? std::vector<std::string>{"--no-tcp", "--pty"} : std::vector<std::string>{"--port", "0"};
    ASSERT_TRUE(sim_.Start(args, 1, root_ / "sim.log")) << "kolibra-ecr-sim did not start";
  }

  // KBCHKSCO.TXT: pass-through, RT footer, payments, network, address, trace, Bancomat.
  void WriteSettings(bool network, const std::string& slots = "1111", bool trace = false) {
    WriteFile(settings_ / "KBCHKCOM.TXT", slots + "\r\n");
    WriteFile(settings_ / "KBCHKSCO.TXT", std::string("0\r\n0\r\n0\r\n") + (network ? "1" : "0") +
                                              "\r\n127.0.0.1\r\n" + (trace ? "1" : "0") + "\r\n0\r\n");
    WriteFile(settings_ / "KBTIMER1.TXT", "200ms\r\n");
  }

  void StartDriver(const std::vector<std::string>& extra) {
    std::vector<std::string> argv{kBin + "/kolibra", "--headless", "--settings-dir", settings_.string(),
                                  "--data-dir", data_.string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    ASSERT_TRUE(driver_.Start(argv, root_ / "driver.log"));
  }

  void StartNetworkDriver(const std::string& port) { StartDriver({"--ecr-port", port}); }

  // The simulator on loopback, the driver in network mode, slot 1 dumped.
  void StartDumpedNetworkDriver() {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    port_ = std::to_string(sim_.Port());
    WriteSettings(true);
    StartNetworkDriver(port_);
    ASSERT_TRUE(WaitForFile("SR_MATR.001")) << DriverLog();
  }

  bool WaitForFile(const std::string& name, int ms = 20000) {
    return WaitFor([&] { return fs::exists(data_ / name); }, ms);
  }
  bool WaitForGone(const std::string& name, int ms = 30000) {
    return WaitFor([&] { return !fs::exists(data_ / name); }, ms);
  }

  // Submits a job the way a calling application does.
  void Submit(int slot, const std::string& commands) {
    std::string ext = ".00" + std::to_string(slot);
    WriteFile(data_ / ("SR_DATI" + ext), commands);
    WriteFile(data_ / ("SR_START" + ext), "1\r\n");
  }

  std::string DriverLog() { return ReadFile(root_ / "driver.log"); }

  path root_, data_, settings_;
  std::string port_;
  EcrSimulator sim_;
  ChildProcess driver_;
};

const char kReceipt[] =
    "SALE,N1,P1000,:Pane;\r\n"
    "SALE,N2,P2.50,Q2,:Latte;\r\n"
    "TEND,N1,V1500;\r\n";

TEST_F(DriverE2E, NetworkDumpThenReceipt) {
  // The first tick dumps slot 1 and writes its serial-number file.
  ASSERT_NO_FATAL_FAILURE(StartDumpedNetworkDriver());
  EXPECT_EQ(ReadFile(data_ / "SR_MATR.001"),
            "99MZT123456\r\nStato: RT\r\nDriverType: ZizAdud\r\nVersione: 1.0.0.14\r\nFW: \r\n");

  Submit(1, kReceipt);
  ASSERT_TRUE(WaitForGone("SR_START.001")) << DriverLog();
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
  EXPECT_FALSE(fs::exists(data_ / "SR_ERR.001"));
  EXPECT_FALSE(fs::exists(data_ / "SR_DATI.001"));
  EXPECT_EQ(ReadFile(data_ / "XON.txt"),
            "\"PANE\"1000H1R\r\n\"  2 X 2.5\"@\r\n\"LATTE\"1*500H2R\r\n1500H1T\r\n");

  std::string out = ReadFile(data_ / "SR_OUT.001");
  ASSERT_EQ(out.rfind("TIME,CASS. 1 ", 0), 0u) << out;
  EXPECT_NE(out.find(" CASSA   1 ,E,A1;\r\nDATE,"), std::string::npos) << out;
  EXPECT_NE(out.find("  SCONTR. N. "), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - 8), ",E,A1;\r\n") << out;

  // A second receipt on the same slot: the old FINESCO and SR_OUT go first.
  Submit(1, "SALE,N1,P200;\r\nTEND,N1;\r\n");
  ASSERT_TRUE(WaitForGone("SR_START.001")) << DriverLog();
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
  EXPECT_EQ(ReadFile(data_ / "XON.txt"), "200H1R\r\n1T\r\n");
}

TEST_F(DriverE2E, RefusedOrMissingCommandFileGivesItsErrorLine) {
  ASSERT_NO_FATAL_FAILURE(StartDumpedNetworkDriver());

  const std::string bad = "QQQQ,N1;\r\n";
  Submit(1, bad);
  ASSERT_TRUE(WaitForGone("SR_START.001")) << DriverLog();
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"), "E511: Errore di conversione del file di input\r\n");
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), bad);
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));

  // A start file whose command file is missing.
  fs::remove(data_ / "SR_DATI.001");
  WriteFile(data_ / "SR_START.001", "1\r\n");
  ASSERT_TRUE(WaitForGone("SR_START.001")) << DriverLog();
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"),
            "E506: Trasmissione non avvenuta: file di input non presente\r\n");
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));
}

TEST_F(DriverE2E, SilentEcrGivesE504AndKeepsTheCommandFile) {
  ASSERT_NO_FATAL_FAILURE(StartDumpedNetworkDriver());

  // The ECR goes silent after its dump: a new simulator on the same port
  // accepts the connection and never answers.
  sim_.Stop();
  EcrSimulator silent;
  ASSERT_TRUE(silent.Start({"--port", port_, "--silent"}, 1, root_ / "sim2.log"));
  ASSERT_EQ(std::to_string(silent.Port()), port_);

  Submit(1, kReceipt);
  // " K" gets 10 echo time-outs of 3 s each before the job fails.
  ASSERT_TRUE(WaitForGone("SR_START.001", 90000)) << DriverLog();
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"),
            "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr\r\n");
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
  StartNetworkDriver(port);
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

TEST_F(DriverE2E, SerialDumpAndReceiptOverPseudoTerminal) {
  ASSERT_NO_FATAL_FAILURE(StartSim(/*pty=*/true));
  const std::string pty = sim_.Endpoint("pty");
  ASSERT_FALSE(pty.empty());
  WriteSettings(false, "1000");
  StartDriver({"--serial-device", "1=" + pty});
  ASSERT_TRUE(WaitForFile("SR_MATR.001")) << DriverLog();
  EXPECT_EQ(ReadFile(data_ / "SR_MATR.001").substr(0, 24), "99MZT123456\r\nStato: RT\r\n");

  Submit(1, kReceipt);
  ASSERT_TRUE(WaitForGone("SR_START.001", 60000)) << DriverLog();
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
  std::string out = ReadFile(data_ / "SR_OUT.001");
  EXPECT_EQ(out.rfind("TIME,CASS. 1 ", 0), 0u) << out;
  EXPECT_NE(out.find("\r\nDATE,"), std::string::npos) << out;
}

TEST_F(DriverE2E, SecondCopyEndsAndTheFirstGoesOn) {
  ASSERT_NO_FATAL_FAILURE(StartDumpedNetworkDriver());

  ChildProcess second;
  ASSERT_TRUE(second.Start({kBin + "/kolibra", "--headless", "--settings-dir", settings_.string(),
                            "--data-dir", data_.string(), "--ecr-port", port_},
                           root_ / "second.log"));
  EXPECT_TRUE(WaitFor([&] { return !second.Running(); }, 5000));
  EXPECT_TRUE(driver_.Running());
  EXPECT_TRUE(fs::exists(data_ / "SR_MATR.001"));
}

}  // namespace
