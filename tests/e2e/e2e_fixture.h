// The fixture of the end-to-end tests: the built kolibra and kolibra-ecr-sim
// programs in a scratch folder, driven only through the job files of the
// data directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace kolibra::e2e {

namespace fs = std::filesystem;
using fs::path;
using kolibra::support::ChildProcess;
using kolibra::support::EcrSimulator;
using kolibra::support::ReadFile;
using kolibra::support::WaitFor;
using kolibra::support::WriteFile;

inline const std::string kBin = KOLIBRA_BINARY_DIR;

inline const char kReceipt[] = "SALE,N1,P1000,:Pane;\r\nSALE,N2,P2.50,Q2,:Latte;\r\nTEND,N1,V1500;\r\n";
// The lines the ECR takes for kReceipt.
inline const std::vector<std::string> kReceiptLines{"\"PANE\"1000H1R", "\"  2 X 2.5\"@",
                                                    "\"LATTE\"1*500H2R", "1500H1T"};
// A plain receipt whose lines differ from kReceipt's.
inline const char kNextReceipt[] = "SALE,N1,P200;\r\nTEND,N1;\r\n";
inline const std::vector<std::string> kNextReceiptLines{"200H1R", "1T"};

inline const char kErrE504[] = "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr\r\n";
inline const char kErrE520[] =
    "E520: Esito incerto: verificare sull'Ecr l'ultimo scontrino prima di ripetere l'invio\r\n";

// The simulator's --stats-file: what the ECR took in its closed receipts
// (lines: command -> times taken).
struct SimStats {
  int receipts = -1, duplicates = -1;
  std::map<std::string, int> lines;
};

inline SimStats ParseStats(const std::string& text) {
  SimStats s;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("receipts=", 0) == 0) s.receipts = std::atoi(line.c_str() + 9);
    else if (line.rfind("duplicates=", 0) == 0) s.duplicates = std::atoi(line.c_str() + 11);
    else if (line.rfind("line ", 0) == 0) {
      const std::size_t space = line.find(' ', 5);
      if (space != std::string::npos) s.lines[line.substr(space + 1)] = std::atoi(line.c_str() + 5);
    }
  }
  return s;
}

// Each of these lines taken exactly once.
inline std::map<std::string, int> OnceEach(const std::vector<std::string>& a,
                                           const std::vector<std::string>& b = {}) {
  std::map<std::string, int> m;
  for (const auto& l : a) m[l] = 1;
  for (const auto& l : b) m[l] = 1;
  return m;
}

class DriverE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kolibra-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl, data_ = root_ / "data", settings_ = root_ / "settings";
    fs::create_directories(data_);
    fs::create_directories(settings_);
  }

  void TearDown() override {
    driver_.Stop();
    sim_.Stop();
    if (!HasFailure()) fs::remove_all(root_);
    else std::fprintf(stderr, "kept %s for inspection\n", root_.c_str());
  }

  // Starts the simulator on a free loopback port, or on a pty only, with its
  // counters in stats.txt.
  void StartSim(bool pty = false, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = pty ? std::vector<std::string>{"--no-tcp", "--pty"}
                                        : std::vector<std::string>{"--port", "0"};
    args.insert(args.end(), {"--stats-file", (root_ / "stats.txt").string()});
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(sim_.Start(args, 1, root_ / "sim.log")) << "kolibra-ecr-sim did not start";
    if (!pty) port_ = std::to_string(sim_.Port());
  }

  // KBCHKSCO.TXT: pass-through, RT footer, payments, network, address, trace, Bancomat.
  void WriteSettings(bool network, const std::string& slots = "1111", bool trace = false) {
    WriteFile(settings_ / "KBCHKCOM.TXT", slots + "\r\n");
    WriteFile(settings_ / "KBCHKSCO.TXT", std::string("0\r\n0\r\n0\r\n") + (network ? "1" : "0") +
                                              "\r\n127.0.0.1\r\n" + (trace ? "1" : "0") + "\r\n0\r\n");
    WriteFile(settings_ / "KBTIMER1.TXT", "200ms\r\n");
  }

  // A second settings folder with the settings files of the first (not its
  // lock, nor the control socket of a running driver).
  path CopySettings() {
    const path to = root_ / "settings2";
    fs::create_directories(to);
    for (const auto& f : fs::directory_iterator(settings_)) {
      if (f.is_regular_file() && f.path().filename() != "kolibra.lock") fs::copy(f.path(), to / f.path().filename());
    }
    return to;
  }

  std::vector<std::string> DriverArgv(const path& settings, const std::vector<std::string>& extra) {
    std::vector<std::string> argv{kBin + "/kolibra", "--headless", "--settings-dir", settings.string(),
                                  "--data-dir", data_.string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
  }

  void StartDriver(const std::vector<std::string>& extra) {
    ASSERT_TRUE(driver_.Start(DriverArgv(settings_, extra), root_ / "driver.log"));
  }

  // The simulator on loopback (or a pty), the driver linked to it (slot 1
  // only on the pty), slot 1 dumped.
  void StartDumpedDriver(bool pty = false, const std::vector<std::string>& simArgs = {}) {
    ASSERT_NO_FATAL_FAILURE(StartSim(pty, simArgs));
    WriteSettings(!pty, pty ? "1000" : "1111", trace_);
    ASSERT_NO_FATAL_FAILURE(
        StartDriver(pty ? std::vector<std::string>{"--serial-device", "1=" + sim_.Endpoint("pty")}
                        : std::vector<std::string>{"--ecr-port", port_}));
    ASSERT_TRUE(WaitForDump()) << DriverLog();
  }

  // Slot 1 dumped: SR_MATR whole (it appears an instant before its lines are in).
  bool WaitForDump() {
    return WaitFor([&] { return ReadFile(data_ / "SR_MATR.001").ends_with("FW: \r\n"); }, 30000);
  }

  bool WaitForGone(const std::string& name, int ms = 30000) {
    return WaitFor([&] { return !fs::exists(data_ / name); }, ms);
  }

  // Submits a job the way a calling application does.
  void Submit(int slot, const std::string& commands) {
    WriteFile(data_ / ("SR_DATI.00" + std::to_string(slot)), commands);
    WriteFile(data_ / ("SR_START.00" + std::to_string(slot)), "1\r\n");
  }

  // Submits kReceipt and waits until its lines have started (SR_OUT is
  // written under its temporary name from then); with `signal`, then sends
  // it to the driver.
  void SubmitUntilLinesStart(int signal = 0) {
    Submit(1, kReceipt);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(data_ / "~KBSR_OUT.001.tmp"); }, 20000)) << DriverLog();
    if (signal != 0) driver_.Kill(signal);
  }

  // Submits a job and waits until the driver has answered it.
  ::testing::AssertionResult RunJob(const std::string& commands, int ms = 60000) {
    Submit(1, commands);
    if (WaitForGone("SR_START.001", ms)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "job not answered in " << ms << " ms\n" << DriverLog();
  }

  // The counters now, once the simulator has closed `receipts` receipts, and
  // as it writes them when it exits.
  SimStats Stats() { return ParseStats(ReadFile(root_ / "stats.txt")); }
  SimStats StatsAfter(int receipts) {
    WaitFor([&] { return Stats().receipts >= receipts; }, 5000);
    return Stats();
  }
  SimStats FinalStats() {
    sim_.Stop();
    return Stats();
  }

  // The ECR closed `receipts` receipts, took each of `lines` once and nothing twice.
  static void ExpectTaken(const SimStats& stats, int receipts, const std::map<std::string, int>& lines) {
    EXPECT_EQ(stats.receipts, receipts);
    EXPECT_EQ(stats.duplicates, 0);
    EXPECT_EQ(stats.lines, lines);
  }

  std::string DriverLog() { return ReadFile(root_ / "driver.log"); }

  path root_, data_, settings_;
  std::string port_;
  bool trace_ = false;  // "Abilita Trace" in the settings StartDumpedDriver writes
  EcrSimulator sim_;
  ChildProcess driver_;
};

}  // namespace kolibra::e2e
