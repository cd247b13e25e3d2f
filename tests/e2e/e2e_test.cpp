// The driver end to end: the built kolibra and kolibra-ecr-sim programs in a
// scratch folder, driven only through the job files of the data directory.
// Start-up and shutdown, a driver stopped mid-job, links planted under the
// names the driver writes, `kolibra submit` and its exit codes; the link
// faults the simulator plays, one row each, with the replay of their traces.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace kolibra::e2e {
namespace {

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
  // Starts the simulator on a free loopback port, or on a pty only, counters in stats.txt.
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
  // A second settings folder with the first's settings files (not its lock, nor its control socket).
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
  // The simulator on loopback (or a pty), the driver linked to it (slot 1 only on the pty), slot 1 dumped.
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
  // Submits kReceipt and waits until its lines have started (SR_OUT is written
  // under its temporary name from then); then sends `signal`, if any, to the driver.
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
  // The counters now, once `receipts` receipts are closed, and as the simulator exits.
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

// The simulator counts its commands from the driver's start: the dump takes
// four (" K", 48F, 47F, 41F), then the job's " K" is the 5th and the lines of
// kReceipt the 6th to 9th.
struct FaultRow {
  const char* name;
  bool pty;
  std::vector<std::string> simArgs;
  // Error lines the job may end with; none when it must print.
  std::vector<std::string> errors;
  // Whether the fault is over by the end of the job, so the next job prints.
  bool transient = true;
  // The job under the fault and its lines.
  const char* commands = kReceipt;
  std::vector<std::string> lines = kReceiptLines;
  // The job fails although the ECR closed its receipt: `lines` were printed.
  bool printed = false;
  // How long the job may take, from its start file to its answer.
  int jobMs = 90000;
};

// Its first payment line covers the total: the ECR closes the receipt there.
inline const char kCoveredByFirstPayment[] = "SALE,N1,P1000;\r\nTEND,N1,V1000;\r\nTEND,N2,V500;\r\n";
inline const std::vector<std::string> kCoveredLines{"1000H1R", "1000H1T"};

// Keeps the test names in ctest's listing short.
inline void PrintTo(const FaultRow& row, std::ostream* os) { *os << row.name; }

inline const FaultRow kFaultRows[] = {
    {"MergedEchoAndAnswerTcp", false, {"--merge-answer"}, {}},
    // Past the driver's echo time-outs: the line is waited for, never resent.
    // The ECR stays slow, so no next job.
    {"SlowSecondAnswerTcp", false, {"--answer-delay-ms", "3500"}, {}, false,
     "SALE,N1,P1000,:Pane;\r\nTEND,N1,V1500;\r\n", {"\"PANE\"1000H1R", "1500H1T"}},
    {"ClosingReplyInThreeChunksTcp", false, {"--reply-chunks", "3", "--chunk-pause-ms", "400"}, {}},
    {"ClosingReplyInTwoChunksTcp", false, {"--reply-chunks", "2", "--chunk-pause-ms", "1000"}, {}},
    // The plain serial link: dump and receipt over a pseudo-terminal.
    {"PlainPty", true, {}, {}},
    {"ClosingReplyInThreeChunksPty", true, {"--reply-chunks", "3", "--chunk-pause-ms", "400"}, {}},
    // The XON comes 500 ms after each XOFF: nothing is written meanwhile and
    // each dump answer is read whole after the XON.
    {"XoffThenXonAfter500msPty", true, {"--xon-after-ms", "500"}, {}},
    {"Paced9600BaudPty", true, {"--baud", "9600"}, {}},
    // The ECR reboots for 2 s: after the first sale line the job has not
    // reached its payment (E504); after the last sale line the payment may
    // already be on the dropped connection (E520, or E504 if the drop was
    // seen first).
    {"RebootAfterFirstSaleTcp", false, {"--reboot-after", "6", "--reboot-ms", "2000"}, {kErrE504}},
    {"RebootAfterLastSaleTcp", false, {"--reboot-after", "8", "--reboot-ms", "2000"}, {kErrE520, kErrE504}},
    // The pty goes silent for 3 s: right after the reset " K" (E504), or
    // with the payment line written into the silence (E520).
    {"SilentAfterResetPty", true, {"--reboot-after", "5", "--reboot-ms", "3000"}, {kErrE504}},
    {"SilentBeforePaymentPty", true, {"--reboot-after", "8", "--reboot-ms", "3000"}, {kErrE520}},
    // The ECR prints on the first payment line and the link goes before it
    // answers: uncertain, never "not printed", and the second payment line
    // is not sent.
    {"CutAfterPrintingOnFirstPaymentTcp", false, {"--cut-at-close"}, {kErrE520}, true, kCoveredByFirstPayment,
     kCoveredLines, true},
    {"CutAfterPrintingOnFirstPaymentPty", true, {"--cut-at-close"}, {kErrE520}, true, kCoveredByFirstPayment,
     kCoveredLines, true},
    // XOFF after every echo and never an XON: a short fixed pause after each
    // XOFF, no waiting for the XON, so the receipt takes a few seconds at most.
    {"XoffWithoutXonTcp", false, {"--xoff"}, {}, true, kReceipt, kReceiptLines, false, 6000},
    {"XoffWithoutXonPty", true, {"--xoff"}, {}, true, kReceipt, kReceiptLines, false, 6000},
};

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

// The driver stopped mid-receipt (every line answered late). SIGTERM and SIGHUP
// finish the running receipt first. After a kill, restarted with the same settings
// (the journal's temporary file half written) or another settings folder (the journal
// is the data folder's): E520, nothing of the job sent again, and the next job prints.
TEST_F(DriverE2E, StoppedMidReceipt) {
  const struct { int signal; bool otherSettings; } cases[] = {{SIGTERM, false}, {SIGHUP, false}, {SIGKILL, false},
                                                               {SIGKILL, true}};
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

// The first tick dumps slot 1; two receipts, the second from a UTF-8 command file
// (the ECR gets the one letter it prints for "è"); a refused command file and a
// missing one each give their error line. Links planted under the names of the result
// files and the driver's own files (trace month folder included) are not followed.
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
  for (const auto& list : {results, own})
    for (const auto& n : list) EXPECT_EQ(ReadFile(outside / n), "precious " + n);
  EXPECT_TRUE(fs::is_empty(outside / "traces"));
  expectRegular("tracedump.txt");
}

class SubmitE2E : public DriverE2E {
 protected:
  // Runs `kolibra submit` on slot 1 with commands; its exit code, stdout (CR dropped) and stderr.
  int RunSubmit(const std::string& commands, const std::string& timeoutS, std::string& out, std::string& err) {
    const path file = root_ / "job.txt", errLog = root_ / "submit.err";
    WriteFile(file, commands);
    WriteFile(errLog, "");
    ChildProcess submit;
    if (!submit.Start({kBin + "/kolibra", "submit", "--data-dir", data_.string(), "--slot", "1", "--timeout", timeoutS,
                       file.string()}, errLog))
      return -1;
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

// The traces of one job's session and the result files it left.
struct Session {
  std::string dump, job;
  std::map<std::string, std::string> results;
};

// What a simulator run with --verbose wrote to the driver, from its log.
inline std::string SentBytes(const std::string& log) {
  std::string out;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("[tcp] -> ") || line.starts_with("[pty] -> ")) out += line.substr(9);
  }
  return out;
}

// Milliseconds from a trace's first line to its last (within a day).
inline long TracedMs(const std::string& trace) {
  const auto ms = [](const std::string& line) {
    return ((std::stol(line.substr(9, 2)) * 60 + std::stol(line.substr(11, 2))) * 60 + std::stol(line.substr(13, 2))) *
               1000 +
           std::stol(line.substr(16, 3));
  };
  const std::size_t last = trace.rfind('\n', trace.size() - 2) + 1;
  const long d = ms(trace.substr(last)) - ms(trace);
  return d < 0 ? d + 86400000 : d;
}

class TracedE2E : public DriverE2E {
 protected:
  void SetUp() override {
    DriverE2E::SetUp();
    trace_ = true;
  }
  // The result files, the dump's trace and the job's (the only one so far).
  Session Keep() {
    Session s;
    for (const char* f : {"FINESCO.001", "SR_ERR.001", "SR_OUT.001", "SR_MATR.001", "SR_DATI.001"}) {
      s.results[f] = fs::exists(data_ / f) ? ReadFile(data_ / f) : "(none)";
    }
    s.dump = ReadFile(data_ / "tracedump.txt");
    for (const auto& f : fs::recursive_directory_iterator(data_)) {
      if (f.is_regular_file() && f.path().filename().string().starts_with("TRACE_")) s.job = ReadFile(f.path());
    }
    return s;
  }
  // Stops both programs, then runs `commands` for a fresh driver (an empty data
  // folder) against the simulator replaying `played`; `replayed` is what that left.
  void RunReplayed(bool pty, const Session& played, const char* commands, int jobMs, Session& replayed,
                   const std::vector<std::string>& extra = {}) {
    ASSERT_FALSE(played.job.empty()) << "no job trace";
    driver_.Stop();
    sim_.Stop();
    fs::remove_all(data_);
    fs::create_directories(data_);
    WriteFile(root_ / "tracedump.txt", played.dump);
    WriteFile(root_ / "job.txt", played.job);
    std::vector<std::string> args{"--replay", (root_ / "tracedump.txt").string(), "--replay",
                                  (root_ / "job.txt").string(), "--replay-speed", "10", "--verbose"};
    args.insert(args.end(), extra.begin(), extra.end());
    simLogFrom_ = ReadFile(root_ / "sim.log").size();
    ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(pty, args));
    ASSERT_TRUE(RunJob(commands, jobMs));
    replayed = Keep();
    sim_.Stop();
  }
  // What the replaying simulator wrote on stderr.
  std::string ReplayLog() { return ReadFile(root_ / "sim.log").substr(simLogFrom_); }
  // The same result files and answers (the recording simulator ran with --verbose),
  // every command of the traces played in order and nothing else, no longer than recorded.
  void ExpectReplayedAsRecorded(const Session& recorded, const Session& replayed) {
    EXPECT_EQ(replayed.results, recorded.results);
    const std::string log = ReplayLog();
    // From the dump's first request on: tracedump.txt lacks the reset before it.
    const auto fromDump = [](const std::string& log) {
      const std::string bytes = SentBytes(log);
      return bytes.substr(std::min(bytes.find("48F"), bytes.size()));
    };
    const std::string answers = fromDump(log);
    EXPECT_EQ(fromDump(ReadFile(root_ / "sim.log").substr(0, simLogFrom_)).substr(0, answers.size()), answers);
    EXPECT_LE(TracedMs(replayed.job), TracedMs(recorded.job) + 1000);
    std::size_t played = 0, steps = 0;
    long differences = -1;
    const std::size_t at = log.rfind("replay: ");
    ASSERT_NE(at, std::string::npos) << log;
    ASSERT_EQ(std::sscanf(log.c_str() + at, "replay: %zu of %zu commands played, %ld differences", &played,
                          &steps, &differences),
              3)
        << log;
    EXPECT_EQ(played, steps) << log;
    EXPECT_EQ(differences, 0) << log;
  }

  std::size_t simLogFrom_ = 0;
};

// A network fault that drops the connection is about the link, not about
// the ECR's answers: a trace does not replay it.
bool AnswersOnly(const FaultRow& row) {
  const auto has = [&](const char* arg) {
    return std::find(row.simArgs.begin(), row.simArgs.end(), arg) != row.simArgs.end();
  };
  return row.pty || !(has("--reboot-after") || has("--cut-at-close"));
}

class FaultTable : public TracedE2E, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(FaultTable, ResultFilesLinesTakenNextJobAndReplay) {
  const FaultRow& row = GetParam();
  std::vector<std::string> simArgs = row.simArgs;
  simArgs.push_back("--verbose");  // what the ECR sent, for the replay's
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(row.pty, simArgs));
  // The dump read the identity of an RT register.
  EXPECT_EQ(ReadFile(data_ / "SR_MATR.001").substr(0, 24), "99MZT123456\r\nStato: RT\r\n");

  ASSERT_TRUE(RunJob(row.commands, row.jobMs));
  if (row.errors.empty()) {
    EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
    EXPECT_FALSE(fs::exists(data_ / "SR_ERR.001")) << ReadFile(data_ / "SR_ERR.001");
    EXPECT_FALSE(fs::exists(data_ / "SR_DATI.001"));
    // Both records of the closing reply, the receipt number as an RT prints it.
    const std::string out = ReadFile(data_ / "SR_OUT.001");
    EXPECT_EQ(out.rfind("TIME,CASS. 1 ", 0), 0u) << out;
    EXPECT_NE(out.find(" CASSA   1 ,E,A1;\r\nDATE,"), std::string::npos) << out;
    EXPECT_NE(out.find("  SCONTR. N. 0001-0001,E,A1;\r\n"), std::string::npos) << out;
  } else {
    const std::string err = ReadFile(data_ / "SR_ERR.001");
    EXPECT_NE(std::find(row.errors.begin(), row.errors.end(), err), row.errors.end()) << err;
    EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));
    EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), row.commands);
  }
  // Unless it was printed, a failed job's receipt was never closed: none of
  // its lines was.
  const bool closed = row.errors.empty() || row.printed;
  const std::vector<std::string> taken = closed ? row.lines : std::vector<std::string>{};
  if (closed) ExpectTaken(StatsAfter(1), 1, OnceEach(taken));
  const Session recorded = Keep();

  if (row.transient) {
    ASSERT_TRUE(RunJob(kNextReceipt, 90000));
    EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco") << ReadFile(data_ / "SR_ERR.001");
    ExpectTaken(StatsAfter(closed ? 2 : 1), closed ? 2 : 1, OnceEach(kNextReceiptLines, taken));
  }

  if (!AnswersOnly(row)) return;
  Session replayed;
  ASSERT_NO_FATAL_FAILURE(RunReplayed(row.pty, recorded, row.commands, row.jobMs, replayed));
  ExpectReplayedAsRecorded(recorded, replayed);
}

INSTANTIATE_TEST_SUITE_P(E2E, FaultTable, ::testing::ValuesIn(kFaultRows),
                         [](const auto& info) { return std::string(info.param.name); });

// An edit of a recorded session; the job run against its replay; a result file and a
// text it must hold; a text the simulator's stderr must hold (none: no difference).
struct EditRow {
  const char* name;
  std::function<void(Session&)> edit;
  const char* commands;
  std::vector<std::string> simArgs;
  const char* file;
  std::string holds, reported;
};

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

const EditRow kEdits[] = {
    {"ReceiptNumber", [](Session& s) { Replace(s.job, "CASSA 0001-0001", "CASSA 0001-0042"); }, kReceipt, {},
     "SR_OUT.001", "  SCONTR. N. 0001-0042,E,A1;", ""},
    // The status comes from the traced answer, not from its trimmed copy:
    // an MF register's receipt number.
    {"StatusOfAnMf", [](Session& s) { Replace(s.dump, "48F6 ( 1 )", "48F0 ( 1 )"); }, kReceipt, {}, "SR_OUT.001",
     "  SCONTR. N. 0001,E,A1;", ""},
    {"NoClosingReply",
     [](Session& s) {
       const std::size_t stx = s.job.rfind('\x02');
       ASSERT_NE(stx, std::string::npos);
       s.job.erase(s.job.rfind('\n', stx) + 1);
     },
     kReceipt, {}, "SR_ERR.001", kErrE520, ""},
    // Other lines than the trace's: each reported and answered as the trace
    // goes on; no closing reply follows the short job's payment.
    {"OtherLinesAnswered", [](Session&) {}, kNextReceipt, {}, "SR_ERR.001", kErrE520,
     "differs from job.txt line 10 at byte 1:\n  sent:  \"200H1R\"\n  trace: \"\"PANE\"1000H1R\""},
    // Stopped at the first difference, the first sale line stays unanswered.
    {"OtherLinesStop", [](Session&) {}, kNextReceipt, {"--replay-stop"}, "SR_ERR.001", kErrE504,
     "replay stopped: no more answers"},
};

// One session recorded, each edit of it replayed to a fresh driver.
using ReplayEdited = TracedE2E;

TEST_F(ReplayEdited, EachEditGivesItsOutcome) {
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver());
  ASSERT_TRUE(RunJob(kReceipt));
  const Session recorded = Keep();
  for (const EditRow& row : kEdits) {
    SCOPED_TRACE(row.name);
    Session edited = recorded, replayed;
    ASSERT_NO_FATAL_FAILURE(row.edit(edited));
    ASSERT_NO_FATAL_FAILURE(RunReplayed(false, edited, row.commands, 30000, replayed, row.simArgs));
    EXPECT_NE(replayed.results.at(row.file).find(row.holds), std::string::npos) << replayed.results.at(row.file);
    const std::string log = ReplayLog();
    EXPECT_NE(log.find(row.reported.empty() ? ", 0 differences" : row.reported), std::string::npos) << log;
  }
}

}  // namespace
}  // namespace kolibra::e2e
