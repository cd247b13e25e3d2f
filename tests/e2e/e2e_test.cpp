// The built kolibra and kolibra-ecr-sim programs in a scratch folder, driven only through the
// data folder's job files; the link faults the simulator plays, one row each, and their replay.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <sys/stat.h>

#include "core/messages.h"
#include "outcome/job_outcome.h"
#include "platform/window_ids.h"
#include "support/child_process.h"
#include "ui/operator_window.h"
#include "ui/window_binding.h"

namespace kolibra::e2e {
namespace {

namespace fs = std::filesystem;
using fs::path;
using Args = std::vector<std::string>;
using namespace kolibra::support;

const std::string kBin = KOLIBRA_BINARY_DIR;

const char kReceipt[] = "SALE,N1,P1000,:Pane;\r\nSALE,N2,P2.50,Q2,:Latte;\r\nTEND,N1,V1500;\r\n";
const Args kReceiptLines{"\"PANE\"1000H1R", "\"  2 X 2.5\"@", "\"LATTE\"1*500H2R", "1500H1T"};
// A plain receipt whose lines differ from kReceipt's.
const char kNextReceipt[] = "SALE,N1,P200;\r\nTEND,N1;\r\n";
const Args kNextReceiptLines{"200H1R", "1T"};

// Refused by the converter: E511, in the error file and on submit's stderr.
const char kRefused[] = "SALE,N1,P1000;\r\nQQQQ,N1;\r\n";
const char kE511Line[] = "E511: Errore di conversione del file di input\n";
const char kErrE504[] = "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr\r\n";
const char kErrE511[] = "E511: Errore di conversione del file di input\r\n";
const char kErrE520[] = "E520: Esito incerto: verificare sull'Ecr l'ultimo scontrino prima di ripetere l'invio\r\n";

// The traces of one job's session and the result files it left.
struct Session {
  std::string dump, job;
  std::map<std::string, std::string> results;
};

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
  Args DriverArgv(const path& settings) {
    Args argv = runAs_;
    argv.insert(argv.end(), program_.begin(), program_.end());
    if (headless_) argv.push_back("--headless");
    argv.insert(argv.end(), {"--settings-dir", settings.string(), "--data-dir", data_.string()});
    argv.insert(argv.end(), link_.begin(), link_.end());
    return argv;
  }
  // The simulator on a free loopback port (or a pty only), counters in stats.txt; the driver
  // linked to it (slot 1 only on the pty), started_ run once it started; slot 1 dumped.
  void StartDumpedDriver(bool pty = false, const Args& simArgs = {}) {
    Args args = !pty ? Args{"--port", "0"} : com1_.empty() ? Args{"--no-tcp", "--pty"} : Args{"--pty-link", com1_};
    args.insert(args.end(), {"--stats-file", (root_ / "stats.txt").string()});
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    ASSERT_TRUE(sim_.Start(args, 1, root_ / "sim.log")) << "kolibra-ecr-sim did not start";
    link_ = !pty ? Args{"--ecr-port", std::to_string(sim_.Port())}
                 : com1_.empty() ? Args{"--serial-device", "1=" + sim_.Endpoint("pty")} : Args{};
    WriteFile(settings_ / "KBCHKCOM.TXT", (pty ? "1000" : slots_) + "\r\n");
    // Pass-through, RT footer, payments, network, address, trace, Bancomat.
    WriteFile(settings_ / "KBCHKSCO.TXT", std::string("0\r\n0\r\n0\r\n") + (pty ? "0" : "1") + "\r\n127.0.0.1\r\n" +
                                              (trace_ ? "1" : "0") + "\r\n0\r\n");
    WriteFile(settings_ / "KBTIMER1.TXT", polling_ + "\r\n");
    ASSERT_TRUE(driver_.Start(DriverArgv(settings_), root_ / "driver.log"));
    if (started_) started_();
    // SR_MATR whole: it appears an instant before its lines are in.
    ASSERT_TRUE(WaitFor([&] { return ReadFile(data_ / "SR_MATR.001").ends_with("FW: \r\n"); }, 60000)) << DriverLog();
  }
  // Submits a job on slot 1 the way a calling application does (with no command file when null).
  void Submit(const char* commands) {
    if (commands) WriteFile(data_ / "SR_DATI.001", commands);
    WriteFile(data_ / "SR_START.001", "1\r\n");
  }
  // Submits a job and waits until the driver has answered it.
  ::testing::AssertionResult RunJob(const char* commands, int ms = 60000) {
    Submit(commands);
    if (WaitFor([&] { return !fs::exists(data_ / "SR_START.001"); }, ms)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "job not answered in " << ms << " ms\n" << DriverLog();
  }
  // Once `receipts` receipts are closed, the ECR took each of these lines once and nothing twice
  // ("taken=" also counts the lines of receipts never closed).
  void ExpectTaken(int receipts, const Args& lines, const Args& more = {}) {
    std::string expected = "receipts=" + std::to_string(receipts) + "\n";
    WaitFor([&] { return ReadFile(root_ / "stats.txt").starts_with(expected); }, 5000);
    std::string stats = ReadFile(root_ / "stats.txt");
    const std::size_t taken = stats.find("taken=");
    if (taken != std::string::npos) stats.erase(taken, stats.find('\n', taken) + 1 - taken);
    std::set<std::string> all(lines.begin(), lines.end());
    all.insert(more.begin(), more.end());
    expected += "duplicates=0\n";
    for (const auto& l : all) expected += "line 1 " + l + "\n";
    EXPECT_EQ(stats, expected);
  }
  std::string DriverLog() { return ReadFile(root_ / "driver.log"); }
  // The driver's temporary files in the data folder ("~KB" + name + "." + 8 digits + ".tmp").
  Args Temporaries() { return FilesNamed("~KB", ".tmp"); }
  // The data folder's plain files named prefix...suffix.
  Args FilesNamed(const char* prefix, const char* suffix) {
    Args names;
    for (const auto& e : fs::directory_iterator(data_)) {
      const std::string name = e.path().filename().string();
      if (name.starts_with(prefix) && name.ends_with(suffix) && e.is_regular_file()) names.push_back(name);
    }
    return names;
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
  // Submits a job and waits until it is taken: the journal records its start before its first line goes.
  void SubmitTaken(const char* commands, int ms) {
    Submit(commands);
    ASSERT_TRUE(WaitFor([&] { return ReadFile(data_ / "KBJOURNAL.TXT").starts_with("1,started,"); }, ms))
        << DriverLog();
  }
  // Once the job is taken, the data folder renamed and a new one made in its place (the serial-number file
  // copied: no dump there). The job answered in the folder it came from, the new one holds none of its files.
  void RunJobInReplacedFolder(const char* commands, int ms) {
    ASSERT_NO_FATAL_FAILURE(SubmitTaken(commands, ms));
    // Its trace opened too (by the data folder's path): the replay needs it.
    ASSERT_TRUE(WaitFor([&] { return !Keep().job.empty(); }, ms)) << DriverLog();
    const path old = root_ / "data.old";
    fs::rename(data_, old);
    fs::create_directory(data_);
    fs::copy_file(old / "SR_MATR.001", data_ / "SR_MATR.001");
    ASSERT_TRUE(WaitFor([&] { return !fs::exists(old / "SR_START.001"); }, ms)) << DriverLog();
    for (const char* f : {"SR_START.001", "FINESCO.001", "SR_ERR.001", "SR_OUT.001", "KBJOURNAL.TXT", "LOGFILE.TXT"})
      EXPECT_FALSE(fs::exists(data_ / f)) << f;
    fs::remove_all(data_);
    fs::rename(old, data_);
  }
  // Stops both programs, then runs `commands` for a fresh driver (an empty data folder)
  // against the simulator replaying `played`; `replayed` is what that left.
  void RunReplayed(bool pty, const Session& played, const char* commands, int jobMs, Session& replayed,
                   const Args& extra = {}) {
    ASSERT_FALSE(played.job.empty()) << "no job trace";
    driver_.Stop();
    sim_.Stop();
    fs::remove_all(data_);
    fs::create_directories(data_);
    WriteFile(root_ / "tracedump.txt", played.dump);
    WriteFile(root_ / "job.txt", played.job);
    Args args{"--replay", (root_ / "tracedump.txt").string(), "--replay", (root_ / "job.txt").string(),
              "--replay-speed", "10", "--verbose"};
    args.insert(args.end(), extra.begin(), extra.end());
    simLogFrom_ = ReadFile(root_ / "sim.log").size();
    ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(pty, args));
    ASSERT_TRUE(RunJob(commands, jobMs));
    replayed = Keep();
    sim_.Stop();
  }
  // What the replaying simulator wrote on stderr.
  std::string ReplayLog() { return ReadFile(root_ / "sim.log").substr(simLogFrom_); }

  // As root: the driver runs as another user (nobody) of the data folder's group, as a packaged
  // driver serves the tills' users; false when this test cannot arrange that.
  bool DriverAsGroupMember() {
    if (::geteuid() != 0 || ::getegid() != 0) return false;
    runAs_ = {"/usr/bin/setpriv", "--reuid=65534", "--regid=0", "--clear-groups", "--"};
    return ::chmod(root_.c_str(), 0750) == 0 && ::chmod(data_.c_str(), 02770) == 0 &&
           ::chown(settings_.c_str(), 65534, 0) == 0;
  }

  // A job printed: FINESCO, no error file, the command file gone, both records of the closing reply with the
  // receipt number as an RT prints it.
  void ExpectPrinted() {
    EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
    EXPECT_FALSE(fs::exists(data_ / "SR_ERR.001")) << ReadFile(data_ / "SR_ERR.001");
    EXPECT_FALSE(fs::exists(data_ / "SR_DATI.001"));
    const std::string out = ReadFile(data_ / "SR_OUT.001");
    EXPECT_EQ(out.rfind("TIME,CASS. 1 ", 0), 0u) << out;
    EXPECT_NE(out.find(" CASSA   1 ,E,A1;\r\nDATE,"), std::string::npos) << out;
    EXPECT_NE(out.find("  SCONTR. N. 0001-0001,E,A1;\r\n"), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with(",E,A1;\r\n")) << out;
  }

  // What a shutdown saved: slot 1 alone, 9600 baud, the RT footer the dump turned on, the network option.
  void ExpectSavedSettings(const char* network = "1") {
    EXPECT_EQ(ReadFile(settings_ / "KBCHKCOM.TXT"), "1000\r\n");
    EXPECT_EQ(ReadFile(settings_ / "KBChkBd.txt"), "9600\r\n");
    EXPECT_EQ(ReadFile(settings_ / "KBCHKSCO.TXT"),
              std::string("0\r\n1\r\n0\r\n") + network + "\r\n127.0.0.1\r\n0\r\n0\r\n");
  }

  path root_, data_, settings_;
  Args runAs_;  // before the driver's program: who runs it
  Args program_{kBin + "/kolibra"};  // the driver's program
  std::string com1_;  // under Wine: the pty path COM1 is mapped to (the simulator links its pty there)
  Args link_;  // the driver's options for the simulator's port or pty
  std::string slots_ = "1111";  // on loopback
  std::string polling_ = "200ms";  // KBTIMER1.TXT
  bool trace_ = false;  // "Abilita Trace"
  bool headless_ = true;
  std::function<void()> started_;
  std::size_t simLogFrom_ = 0;
  EcrSimulator sim_;
  ChildProcess driver_;
};

// A start file the till writes again: renamed in while the job runs, or written alone after the job
// ended (a till that writes it in pieces, nudges the driver, or resends without the command file).
enum class StartAgain { kNo, kDuringJob, kAfterJob };

// The simulator counts its commands from the driver's start: the dump takes four (" K", 48F,
// 47F, 41F), then the job's " K" is the 5th and the lines of kReceipt the 6th to 9th.
struct FaultRow {
  const char* name;
  bool pty = false;
  Args simArgs = {};
  Args errors = {};  // the error lines the job may end with; none when it must print
  bool transient = true;  // the fault is over by the end of the job, so the next job prints
  const char* commands = kReceipt;  // the job under the fault, and its lines
  Args lines = kReceiptLines;
  bool printed = false;  // the job fails although the ECR closed its receipt: `lines` were printed
  int jobMs = 90000;  // from its start file to its answer
  StartAgain startAgain = StartAgain::kNo;
  bool plantFolders = false;  // folders under the fixed temporary names of old, made by another user
  bool folderReplaced = false;  // the data folder replaced during the job (RunJobInReplacedFolder)
};

// Folders any member of the data folder's group can make: no obstacle to any result file.
const Args kPlantedFolders{"~KBSR_ERR.001.tmp", "~KBSR_OUT.001.tmp", "~KBFINESCO.001.tmp"};

// Its first payment line covers the total: the ECR closes the receipt there.
const char kCoveredByFirstPayment[] = "SALE,N1,P1000;\r\nTEND,N1,V1000;\r\nTEND,N2,V500;\r\n";
const Args kCoveredLines{"1000H1R", "1000H1T"};

// Keeps the test names in ctest's listing short.
void PrintTo(const FaultRow& row, std::ostream* os) { *os << row.name; }

const FaultRow kFaultRows[] = {
    {"MergedEchoAndAnswerTcp", false, {"--merge-answer"}, {}},
    // Past the driver's echo time-outs: waited for, never resent. The ECR stays slow: no next job.
    {"SlowSecondAnswerTcp", false, {"--answer-delay-ms", "3500"}, {}, false,
     "SALE,N1,P1000,:Pane;\r\nTEND,N1,V1500;\r\n", {"\"PANE\"1000H1R", "1500H1T"}},
    {"ClosingReplyInThreeChunksTcp", false, {"--reply-chunks", "3", "--chunk-pause-ms", "400"}, {}},
    {"ClosingReplyInTwoChunksTcp", false, {"--reply-chunks", "2", "--chunk-pause-ms", "1000"}, {}},
    {"PlainPty", true, {}, {}},
    {"ClosingReplyInThreeChunksPty", true, {"--reply-chunks", "3", "--chunk-pause-ms", "400"}, {}},
    // Nothing written until the XON; each dump answer read whole after it.
    {"XoffThenXonAfter500msPty", true, {"--xon-after-ms", "500"}, {}},
    {"Paced9600BaudPty", true, {"--baud", "9600"}, {}},
    // A 2 s reboot with the payment maybe on the dropped connection: E520, or E504 if the drop was seen first
    // (before the payment: StartOnlyAfterNoAnswerTcp).
    {"RebootAfterLastSaleTcp", false, {"--reboot-after", "8", "--reboot-ms", "2000"}, {kErrE520, kErrE504}},
    // 3 s of silence right after the reset " K" (E504), or with the payment written into it (E520).
    {"SilentAfterResetPty", true, {"--reboot-after", "5", "--reboot-ms", "3000"}, {kErrE504}},
    {"SilentBeforePaymentPty", true, {"--reboot-after", "8", "--reboot-ms", "3000"}, {kErrE520}},
    // Printed on the first payment line, the link gone before the answer: uncertain, never "not
    // printed", and the second payment line not sent (over TCP: StartOnlyAfterUncertainTcp).
    {"CutAfterPrintingOnFirstPaymentPty", true, {"--cut-at-close"}, {kErrE520}, true, kCoveredByFirstPayment,
     kCoveredLines, true},
    // No XON ever: a short fixed pause after each XOFF, so the receipt takes a few seconds at most.
    {.name = "XoffWithoutXonTcp", .simArgs = {"--xoff"}, .jobMs = 6000},
    {.name = "XoffWithoutXonPty", .pty = true, .simArgs = {"--xoff"}, .jobMs = 6000},
    // A start file written again: the same command file is never run twice. During the job (slow answers), or after
    // it printed: one receipt, its results kept. After E520: E520 again. After E504 (printed nothing): it runs again.
    {.name = "StartFileRenamedInDuringTheJobTcp", .simArgs = {"--answer-delay-ms", "800"},
     .startAgain = StartAgain::kDuringJob},
    {.name = "StartFileBackAfterPrintingTcp", .startAgain = StartAgain::kAfterJob},
    {.name = "StartOnlyAfterUncertainTcp", .simArgs = {"--cut-at-close"}, .errors = {kErrE520},
     .commands = kCoveredByFirstPayment, .lines = kCoveredLines, .printed = true, .startAgain = StartAgain::kAfterJob},
    {.name = "StartOnlyAfterNoAnswerTcp", .simArgs = {"--reboot-after", "6", "--reboot-ms", "2000"},
     .errors = {kErrE504}, .startAgain = StartAgain::kAfterJob},
    // Not printed (E504) with folders in the way of the temporary names of old (the other outcomes: SubmitE2E).
    {.name = "PlantedTemporaryFoldersRebootAfterFirstSaleTcp", .simArgs = {"--reboot-after", "6", "--reboot-ms", "2000"},
     .errors = {kErrE504}, .plantFolders = true},
    // The data folder renamed and a new one made while the receipt runs: its results go to the folder it came from.
    {.name = "DataFolderReplacedMidReceiptTcp", .simArgs = {"--answer-delay-ms", "300"}, .jobMs = 30000,
     .folderReplaced = true},
};

TEST_F(DriverE2E, StartUpAnswersTheWaitingJobAndShutdownSavesSettings) {
  // An earlier run's leftovers; its journal: its last job on the slot had ended.
  for (const char* f : {"SR_START.001", "SR_MATR.001", "SR_ERR.001", "SR_OUT.001", "FINESCO.001", "SR_DATI.001"})
    WriteFile(data_ / f, "old");
  WriteFile(data_ / "KBJOURNAL.TXT", "1,done,earlier\r\n");
  slots_ = "1000";
  // A settings save cut short by a kill left its part under a temporary name: the whole old file is read (the
  // link below needs it), the part goes.
  const path cutShort = settings_ / "~KBKBCHKSCO.TXT.0123abcd.tmp";
  WriteFile(cutShort, "1\r\n");
  // The old serial-number file goes at start-up and the dump writes a new one.
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver());
  EXPECT_FALSE(fs::exists(cutShort));
  // The waiting job is answered, never run: E521, its start file gone, its command file kept, stale results gone.
  EXPECT_FALSE(fs::exists(data_ / "SR_START.001"));
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), "old");
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"),
            "E521: Lavoro non eseguito: Kolibra riavviato o chiuso, ripetere l'invio\r\n");
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001") || fs::exists(data_ / "SR_OUT.001"));

  WriteFile(data_ / "SR_DATI.001", "kept");
  ASSERT_NE(driver_.Stop(), -1) << "driver did not stop on SIGTERM\n" << DriverLog();
  EXPECT_FALSE(fs::exists(data_ / "SR_MATR.001"));
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), "kept");
  ExpectSavedSettings();
}

// Stopped mid-receipt (every line answered late): SIGTERM and SIGHUP finish the receipt first. Killed,
// then restarted with the same settings (the journal's temporary file half written) or another settings
// folder (the journal is the data folder's): E520, nothing of the job sent again, the next job prints.
TEST_F(DriverE2E, StoppedMidReceipt) {
  const struct { int signal; bool otherSettings; } cases[] = {{SIGTERM, false}, {SIGHUP, false}, {SIGKILL, false},
                                                               {SIGKILL, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.signal) + (c.otherSettings ? " another settings folder" : ""));
    ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(false, {"--answer-delay-ms", "800"}));
    Submit(kReceipt);
    // SR_OUT is created under a fresh temporary name once the lines are about to start.
    ASSERT_TRUE(WaitFor([&] { return !FilesNamed("~KBSR_OUT.001.", ".tmp").empty(); }, 20000)) << DriverLog();
    driver_.Kill(c.signal);
    const int status = driver_.WaitExit(30000);
    if (c.signal != SIGKILL) {
      ASSERT_TRUE(WIFEXITED(status)) << status << DriverLog();
      EXPECT_EQ(WEXITSTATUS(status), 0);
      EXPECT_FALSE(fs::exists(data_ / "SR_START.001"));
    } else {
      ASSERT_NE(status, -1);
      if (!c.otherSettings) WriteFile(data_ / "~KBKBJOURNAL.TXT.0123abcd.tmp", "1,do");
      // Another folder: a copy of the settings files only, not the lock.
      const path settings = c.otherSettings ? root_ / "settings2" : settings_;
      fs::create_directories(settings);
      for (const auto& f : fs::directory_iterator(settings_)) {
        const path name = f.path().filename();
        if (c.otherSettings && f.is_regular_file() && name != "kolibra.lock") fs::copy(f.path(), settings / name);
      }
      ASSERT_TRUE(driver_.Start(DriverArgv(settings), root_ / "driver.log"));
      const auto answered = [&] {
        return ReadFile(data_ / "SR_ERR.001") == kErrE520 && !fs::exists(data_ / "SR_START.001");
      };
      ASSERT_TRUE(WaitFor(answered, 10000)) << DriverLog();
      // The killed run's temporary files went at start-up (the journal's own may be in use an instant).
      EXPECT_TRUE(WaitFor([&] { return Temporaries().empty(); }, 2000)) << Temporaries()[0];
      EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), kReceipt);
      EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));
      ASSERT_TRUE(RunJob(kNextReceipt));
    }
    // Finished before the stop, or the next job after the restart: printed once.
    EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco") << ReadFile(data_ / "SR_ERR.001");
    sim_.Stop();
    ExpectTaken(1, c.signal != SIGKILL ? kReceiptLines : kNextReceiptLines);
    driver_.Stop();
    for (const char* f : {"FINESCO.001", "SR_OUT.001", "SR_MATR.001", "XON.txt", "KBJOURNAL.TXT"}) fs::remove(data_ / f);
  }
}

// The first tick dumps slot 1; two receipts, the second from UTF-8 (the ECR gets the letter it prints for "è");
// a refused command file gives its error line. Links planted under the result files' and the
// driver's own names (trace month folder too) are not followed.
TEST_F(DriverE2E, DumpReceiptsAndRefusalsThroughPlantedLinks) {
  const path outside = root_ / "precious";
  fs::create_directories(outside / "traces");
  const Args results{"SR_ERR.001", "FINESCO.001", "SR_OUT.001", "SR_MATR.001"};
  const Args own{"tracedump.txt", "XON.txt", "~KBSR_OUT.001.tmp", "~KBFINESCO.001.tmp"};
  const auto plant = [&](const Args& which) {
    for (const auto& n : which) {
      fs::remove(data_ / n);
      fs::create_symlink(outside / n, data_ / n);
    }
  };
  for (const auto& list : {results, own}) {
    for (const auto& n : list) WriteFile(outside / n, "precious " + n);
    plant(list);
  }
  fs::create_directory_symlink(outside / "traces", data_ / Now("TRACE_%Y%m"));
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
  EXPECT_EQ(FilesNamed("TRACE_", ".TXT").size(), 1u);
  ASSERT_TRUE(RunJob("SALE,N1,P100,:Caff\xc3\xa8;\r\nTEND,N1;\r\n"));
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco") << ReadFile(data_ / "SR_ERR.001");
  EXPECT_EQ(ReadFile(data_ / "XON.txt"), "\"CAFFE\"100H1R\r\n1T\r\n");
  ExpectTaken(2, kReceiptLines, {"\"CAFFE\"100H1R", "1T"});

  plant({"SR_ERR.001", "FINESCO.001", "SR_OUT.001"});
  ASSERT_TRUE(RunJob(kRefused));
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"), kErrE511);
  expectRegular("SR_ERR.001");
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), kRefused);
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));

  driver_.Stop();
  for (const auto& list : {results, own})
    for (const auto& n : list) EXPECT_EQ(ReadFile(outside / n), "precious " + n);
  EXPECT_TRUE(fs::is_empty(outside / "traces"));
  expectRegular("tracedump.txt");
}

// `kolibra submit` of one command file on slot 1, running in the background.
struct SubmitClient {
  ChildProcess child;
  path errLog;
  std::string out, err;  // stdout (CR dropped) and stderr, once finished
  void Start(const path& root, const std::string& name, const path& data, const std::string& commands,
             const char* timeoutS) {
    const path file = root / (name + ".txt");
    errLog = root / (name + ".err");
    WriteFile(file, commands);
    WriteFile(errLog, "");
    EXPECT_TRUE(child.Start({kBin + "/kolibra", "submit", "--data-dir", data.string(), "--slot", "1", "--timeout",
                             timeoutS, file.string()}, errLog));
  }
  int Run(const path& root, const path& data, const std::string& commands, const char* timeoutS) {
    Start(root, "job", data, commands, timeoutS);
    return Finish();
  }
  // Its exit code (-1 when it did not exit).
  int Finish() {
    out.clear();
    for (std::string line = child.ReadLine(60000); !line.empty(); line = child.ReadLine(1000)) out += line + "\n";
    const int status = child.WaitExit(60000);
    err = ReadFile(errLog);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Finished with exit code 0: FINESCO and the closing reply's first record on stdout, nothing on stderr.
  void ExpectPrinted(const std::string& driverLog) {
    EXPECT_EQ(Finish(), 0) << err << driverLog;
    EXPECT_EQ(out.substr(0, 20), "finesco\nTIME,CASS. 1") << out;
    EXPECT_EQ(err, "");
  }
};

using SubmitE2E = DriverE2E;

TEST_F(SubmitE2E, EachOutcomeItsExitCode) {
  // The simulator cuts the link once, on the first receipt's closing line. Folders stand under the
  // temporary names of old: each outcome still gets its own result and exit code.
  for (const auto& n : kPlantedFolders) fs::create_directory(data_ / n);
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(false, {"--cut-at-close"}));
  const struct { const char* name; const char* commands; int code; std::string outStart; std::string err; } rows[] = {
      {"refused", kRefused, 1, "", kE511Line},
      {"uncertain", kReceipt, 3, "", std::string(kErrE520).substr(0, std::string(kErrE520).size() - 2) + "\n"},
      {"printed", kNextReceipt, 0, "finesco\nTIME,CASS. 1 ", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SubmitClient c;
    EXPECT_EQ(c.Run(root_, data_, row.commands, "60"), row.code) << c.out << c.err << DriverLog();
    EXPECT_EQ(c.out.substr(0, row.outStart.size()), row.outStart) << c.out;
    EXPECT_EQ(c.err, row.err);
  }
  for (const auto& n : kPlantedFolders) EXPECT_TRUE(fs::is_directory(data_ / n)) << n;
  EXPECT_TRUE(WaitFor([&] { return Temporaries().empty(); }, 2000)) << Temporaries()[0];
  // No driver: the start file stays and the job may still run.
  driver_.Stop();
  SubmitClient late;
  EXPECT_EQ(late.Run(root_, data_, kNextReceipt, "1"), 4);
  EXPECT_NE(late.err.find("il lavoro potrebbe essere ancora eseguito"), std::string::npos) << late.err;
  EXPECT_TRUE(fs::exists(data_ / "SR_START.001"));
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), kNextReceipt);
}

// A receipt of its own for each n: its command file and its two lines.
std::pair<std::string, Args> OwnReceipt(int n) {
  const std::string price = std::to_string(1000 + 10 * n);
  return {"SALE,N1,P" + price + ";\r\nTEND,N1,V" + price + ";\r\n", {price + "H1R", price + "H1T"}};
}

// Two clients of one slot, started together (either first) or one while the other's receipt runs: each its own
// outcome and exit code, nothing printed twice. A claim file left behind holds nobody up; one held by another
// client makes submit wait, then give up with nothing sent.
TEST_F(SubmitE2E, TwoClientsOnOneSlotEachGetTheirOwnOutcome) {
  // Every line answered a little late: the receipts take a while.
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(false, {"--answer-delay-ms", "150"}));
  WriteFile(data_ / "~KBCLAIM.001", "");
  Args printed;
  // Rounds 0 and 2: the good client first; 1: the refused one first; 3: the refused one while the receipt runs.
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    const auto [receipt, lines] = OwnReceipt(round);
    printed.insert(printed.end(), lines.begin(), lines.end());
    SubmitClient good, bad;
    if (round != 1) good.Start(root_, "good", data_, receipt, "60");
    if (round == 3) {
      ASSERT_TRUE(WaitFor([&] { return fs::exists(data_ / "SR_START.001"); }, 10000));
      std::this_thread::sleep_for(std::chrono::milliseconds(400));  // past a poll: the receipt runs
    }
    bad.Start(root_, "bad", data_, kRefused, "60");
    if (round == 1) good.Start(root_, "good", data_, receipt, "60");
    good.ExpectPrinted(DriverLog());
    EXPECT_EQ(bad.Finish(), 1) << bad.out;
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, kE511Line);
  }
  sim_.Stop();
  ExpectTaken(4, printed);

  // Held by another client (a record lock, as the example clients take): waited for, then given up.
  const int held = ::open((data_ / "~KBCLAIM.001").c_str(), O_RDWR);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_len = 1;
  ASSERT_EQ(::fcntl(held, F_SETLK, &lock), 0);
  SubmitClient late;
  EXPECT_EQ(late.Run(root_, data_, kNextReceipt, "1"), 1);
  ::close(held);
  EXPECT_EQ(late.err, "kolibra submit: Porta occupata da un altro lavoro: lavoro non inviato, ripetere l'invio\n");
  EXPECT_FALSE(fs::exists(data_ / "SR_START.001"));
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), kRefused);  // the refused job's, kept
}

// Umask 077, the driver another user of the data folder's group (as packaged): submit's job files are the
// group's to read, so it prints; a command file the driver may not read is refused as such (E513) and kept.
TEST_F(SubmitE2E, UmaskOf077AndACommandFileTheDriverMayNotRead) {
  if (!DriverAsGroupMember()) GTEST_SKIP() << "runs the driver as another user: root only";
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver());
  SubmitClient client;
  const mode_t umaskBefore = ::umask(077);
  client.Start(root_, "job", data_, kNextReceipt, "60");
  ::umask(umaskBefore);
  client.ExpectPrinted(DriverLog());

  WriteFile(data_ / "SR_DATI.001", kReceipt);
  ASSERT_EQ(::chmod((data_ / "SR_DATI.001").c_str(), 0600), 0);
  ASSERT_TRUE(RunJob(nullptr));
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"),
            "E513: File di input non leggibile da Kolibra: controllare i permessi del file\r\n");
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), kReceipt);
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));
  sim_.Stop();
  ExpectTaken(1, kNextReceiptLines);
}

class FaultTable : public DriverE2E, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(FaultTable, ResultFilesLinesTakenNextJobAndReplay) {
  const FaultRow& row = GetParam();
  trace_ = true;
  Args simArgs = row.simArgs;
  simArgs.push_back("--verbose");  // what the ECR sent, for the replay's
  if (row.plantFolders) for (const auto& n : kPlantedFolders) fs::create_directory(data_ / n);
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(row.pty, simArgs));
  // The dump read the identity of an RT register.
  EXPECT_EQ(ReadFile(data_ / "SR_MATR.001").substr(0, 24), "99MZT123456\r\nStato: RT\r\n");

  if (row.startAgain == StartAgain::kDuringJob) {
    ASSERT_NO_FATAL_FAILURE(SubmitTaken(row.commands, 30000));
    WriteFile(data_ / "start.tmp", "2\r\n");
    fs::rename(data_ / "start.tmp", data_ / "SR_START.001");
    ASSERT_TRUE(WaitFor([&] { return !fs::exists(data_ / "SR_START.001"); }, row.jobMs)) << DriverLog();
  } else if (row.folderReplaced) {
    ASSERT_NO_FATAL_FAILURE(RunJobInReplacedFolder(row.commands, row.jobMs));
  } else {
    ASSERT_TRUE(RunJob(row.commands, row.jobMs));
  }
  if (row.errors.empty()) {
    ExpectPrinted();
  } else {
    const std::string err = ReadFile(data_ / "SR_ERR.001");
    EXPECT_NE(std::find(row.errors.begin(), row.errors.end(), err), row.errors.end()) << err;
    EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));
    EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), row.commands);
  }
  // Unless it was printed, a failed job's receipt was never closed: none of its lines was.
  bool closed = row.errors.empty() || row.printed;
  Args taken = closed ? row.lines : Args{};
  if (closed) ExpectTaken(1, taken);
  const Session recorded = Keep();
  if (row.plantFolders) {
    for (const auto& n : kPlantedFolders) EXPECT_TRUE(fs::is_directory(data_ / n)) << n;
    EXPECT_TRUE(WaitFor([&] { return Temporaries().empty(); }, 2000)) << Temporaries()[0];
  }

  if (row.startAgain == StartAgain::kAfterJob) {
    ASSERT_TRUE(RunJob(nullptr, 90000));
    if (closed) {
      // The job's results as they were (E520 written again), nothing sent.
      EXPECT_EQ(Keep().results, recorded.results);
    } else {
      // Not printed: the command file left runs again, and prints.
      EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco") << ReadFile(data_ / "SR_ERR.001");
      closed = true;
      taken = row.lines;
    }
    ExpectTaken(1, taken);
  }

  if (row.transient) {
    ASSERT_TRUE(RunJob(kNextReceipt, 90000));
    EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco") << ReadFile(data_ / "SR_ERR.001");
    ExpectTaken(closed ? 2 : 1, kNextReceiptLines, taken);
  }

  // A dropped connection is about the link, not the ECR's answers: a trace does not replay it.
  const auto has = [&](const char* arg) { return std::ranges::find(row.simArgs, arg) != row.simArgs.end(); };
  if (!row.pty && (has("--reboot-after") || has("--cut-at-close"))) return;
  // Nor are the planted folders: they are about the data folder.
  if (row.plantFolders) return;
  Session replayed;
  ASSERT_NO_FATAL_FAILURE(RunReplayed(row.pty, recorded, row.commands, row.jobMs, replayed));
  // The same result files and answers, every traced command played in order, no longer than recorded.
  EXPECT_EQ(replayed.results, recorded.results);
  // What the simulator wrote to the driver from the dump's first request (tracedump.txt lacks the reset).
  const auto sent = [](const std::string& log) {
    std::string bytes;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
      if (line.starts_with("[tcp] -> ") || line.starts_with("[pty] -> ")) bytes += line.substr(9);
    }
    return bytes.substr(std::min(bytes.find("48F"), bytes.size()));
  };
  const std::string log = ReplayLog(), answers = sent(log);
  EXPECT_EQ(sent(ReadFile(root_ / "sim.log").substr(0, simLogFrom_)).substr(0, answers.size()), answers);
  // Milliseconds from a trace's first line to its last (within a day).
  const auto tracedMs = [](const std::string& trace) {
    const auto ms = [](const std::string& line) {
      int h = 0, m = 0, s = 0, x = 0;
      EXPECT_EQ(std::sscanf(line.c_str() + 9, "%2d%2d%2d.%3d", &h, &m, &s, &x), 4) << line;
      return ((h * 60L + m) * 60 + s) * 1000 + x;
    };
    const long d = ms(trace.substr(trace.rfind('\n', trace.size() - 2) + 1)) - ms(trace);
    return d < 0 ? d + 86400000 : d;
  };
  EXPECT_LE(tracedMs(replayed.job), tracedMs(recorded.job) + 1000);
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(replay: (\d+) of \1 commands played, 0 differences)"))) << log;
}

INSTANTIATE_TEST_SUITE_P(E2E, FaultTable, ::testing::ValuesIn(kFaultRows),
                         [](const auto& info) { return std::string(info.param.name); });

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

using ReplayEdited = DriverE2E;

// One session recorded, each edit of it replayed to a fresh driver: the job run against the
// replay, a result file and a text it must hold, a text the simulator's stderr must hold.
TEST_F(ReplayEdited, EachEditGivesItsOutcome) {
  // reported: "" when no difference.
  const struct { const char* name; std::function<void(Session&)> edit; const char* commands; Args simArgs;
                 const char* file; std::string holds, reported; } edits[] = {
      {"ReceiptNumber", [](Session& s) { Replace(s.job, "CASSA 0001-0001", "CASSA 0001-0042"); }, kReceipt, {},
       "SR_OUT.001", "  SCONTR. N. 0001-0042,E,A1;", ""},
      // The status comes from the traced answer, not from its trimmed copy: an MF register's receipt number.
      {"StatusOfAnMf", [](Session& s) { Replace(s.dump, "48F6 ( 1 )", "48F0 ( 1 )"); }, kReceipt, {}, "SR_OUT.001",
       "  SCONTR. N. 0001,E,A1;", ""},
      {"NoClosingReply",
       [](Session& s) {
         const std::size_t stx = s.job.rfind('\x02');
         ASSERT_NE(stx, std::string::npos);
         s.job.erase(s.job.rfind('\n', stx) + 1);
       },
       kReceipt, {}, "SR_ERR.001", kErrE520, ""},
      // Other lines than the trace's: each reported and answered as the trace goes on; no closing
      // reply follows the short job's payment.
      {"OtherLinesAnswered", [](Session&) {}, kNextReceipt, {}, "SR_ERR.001", kErrE520,
       "differs from job.txt line 10 at byte 1:\n  sent:  \"200H1R\"\n  trace: \"\"PANE\"1000H1R\""},
      // Stopped at the first difference, the first sale line stays unanswered.
      {"OtherLinesStop", [](Session&) {}, kNextReceipt, {"--replay-stop"}, "SR_ERR.001", kErrE504,
       "replay stopped: no more answers"},
  };
  trace_ = true;
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver());
  ASSERT_TRUE(RunJob(kReceipt));
  const Session recorded = Keep();
  for (const auto& row : edits) {
    SCOPED_TRACE(row.name);
    Session edited = recorded, replayed;
    ASSERT_NO_FATAL_FAILURE(row.edit(edited));
    ASSERT_NO_FATAL_FAILURE(RunReplayed(false, edited, row.commands, 30000, replayed, row.simArgs));
    EXPECT_NE(replayed.results.at(row.file).find(row.holds), std::string::npos) << replayed.results.at(row.file);
    const std::string log = ReplayLog();
    EXPECT_NE(log.find(row.reported.empty() ? ", 0 differences" : row.reported), std::string::npos) << log;
  }
}

// The Windows build's kolibra.com, kolibra.exe and win-probe.exe under Wine, as scripts/test-windows.sh sets it up:
// KOLIBRA_WINE_BUILD names the build folder, WINEPREFIX the prefix (COM1 mapped to the pty path KOLIBRA_WINE_COM1),
// KOLIBRA_WINE_DESKTOP a prefix with a desktop and its tray for the window. Skipped without them.
std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Runs argv to its end: its exit code (-1 when it did not exit within 60 s); in *out its stdout, with its stderr
// unless that goes to err.
int RunToEnd(const Args& argv, std::string* out = nullptr, const path& err = "/dev/stdout") {
  ChildProcess child;
  if (!child.Start(argv, err)) return -1;
  const std::string text = child.ReadAll(60000);
  if (out) *out = text;
  const int status = child.WaitExit(60000);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ExitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

class WineE2E : public DriverE2E {
 protected:
  void SetUp() override {
    DriverE2E::SetUp();
    build_ = Env("KOLIBRA_WINE_BUILD"), prefix_ = Env("WINEPREFIX"), com1_ = Env("KOLIBRA_WINE_COM1");
    if (build_.empty()) GTEST_SKIP() << "the Windows build under Wine: scripts/test-windows.sh";
    program_ = Wine({"kolibra.com"});
  }
  // argv run under Wine in prefix_; a program of the Windows build named by its file name.
  Args Wine(Args argv) const {
    if (argv[0].ends_with(".exe") || argv[0].ends_with(".com")) argv[0] = build_ + "/" + argv[0];
    argv.insert(argv.begin(), {"/usr/bin/env", "WINEPREFIX=" + prefix_, KOLIBRA_SOURCE_DIR "/scripts/wine-run.sh"});
    return argv;
  }
  // What win-probe printed, without CRs and the last line end.
  std::string Probe(Args args) {
    args.insert(args.begin(), "win-probe.exe");
    std::string out;
    RunToEnd(Wine(args), &out, "/dev/null");
    std::erase(out, '\r');
    if (out.ends_with('\n')) out.pop_back();
    return out;
  }
  bool ProbeSays(const Args& args, const std::string& want, int ms = 5000) {
    return WaitFor([&] { return Probe(args) == want; }, ms);
  }
  // kolibra.com ctl on the settings folder (or another name of it) exits with code, having printed each of texts.
  void ExpectCtl(const Args& args, int code, const Args& texts, const std::string& settings = "") {
    SCOPED_TRACE(::testing::PrintToString(args));
    Args argv{"kolibra.com", "ctl", "--settings-dir", settings.empty() ? settings_.string() : settings};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    EXPECT_EQ(RunToEnd(Wine(argv), &out), code) << out;
    for (const auto& text : texts) EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
  }
  std::string build_, prefix_;
};

// The same command line as on Linux: --version prints the same line (the console's line ends aside), convert the
// same bytes (the C runtime's text mode would write CR CR LF).
TEST_F(WineE2E, VersionAndConvertAsOnLinux) {
  WriteFile(root_ / "convert.txt", kReceipt);
  for (Args args : {Args{"--version"}, Args{"convert", (root_ / "convert.txt").string()}}) {
    std::string win, onLinux;
    args.insert(args.begin(), kBin + "/kolibra");
    EXPECT_EQ(RunToEnd(args, &onLinux), 0) << onLinux;
    args[0] = "kolibra.com";
    EXPECT_EQ(RunToEnd(Wine(args), &win), 0) << win;
    if (args[1] == "--version") std::erase(win, '\r');
    EXPECT_EQ(win, onLinux);
  }
}

class WineLink : public WineE2E, public ::testing::WithParamInterface<bool> {};

// Over TCP and over COM1: the dump, a receipt, a silent ECR's E504 during which a logoff is refused
// (WM_QUERYENDSESSION) and allowed once it ended, then a shutdown that saves the settings: WM_CLOSE over TCP; over
// COM1 the session's end (WM_ENDSESSION) with a job waiting that the logoff's yes kept from starting, all done when
// the message returns.
TEST_P(WineLink, DumpReceiptSilentEcrAndShutdown) {
  const bool com1 = GetParam();
  if (com1 && com1_.empty()) GTEST_SKIP() << "no COM1 mapping";
  slots_ = "1000", polling_ = "200";  // saved as "200ms"
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver(com1));
  EXPECT_EQ(ReadFile(data_ / "SR_MATR.001"),
            "99MZT123456\r\nStato: RT\r\nDriverType: ZizAdud\r\nVersione: " + VersionText() + "\r\nFW: \r\n");
  ASSERT_TRUE(RunJob(kReceipt));
  ExpectPrinted();
  std::string xon;
  for (const auto& line : kReceiptLines) xon += line + "\r\n";
  EXPECT_EQ(ReadFile(data_ / "XON.txt"), xon);

  // A new simulator on the same port or pty link that never answers: " K" gets its echo time-outs.
  const Args silent = com1 ? Args{"--no-tcp", "--pty-link", com1_, "--silent"} : Args{"--port", link_[1], "--silent"};
  sim_.Stop();
  ASSERT_TRUE(sim_.Start(silent, 1, root_ / "sim.log"));
  ASSERT_NO_FATAL_FAILURE(SubmitTaken(kReceipt, 20000));
  EXPECT_EQ(Probe({"session-query"}), "0") << "a logoff during the job";
  ASSERT_TRUE(WaitFor([&] { return !fs::exists(data_ / "SR_START.001"); }, 120000)) << DriverLog();
  EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"), std::string(kErrNoAnswer) + "\r\n");
  EXPECT_EQ(ReadFile(data_ / "SR_DATI.001"), kReceipt);
  EXPECT_FALSE(fs::exists(data_ / "FINESCO.001"));
  EXPECT_EQ(Probe({"session-query"}), "1") << "a logoff after the job";

  for (const char* f : {"KBCHKCOM.TXT", "KBChkBd.txt", "KBCHKSCO.TXT"}) fs::remove(settings_ / f);
  std::string out;
  if (com1) {
    Submit(kReceipt);
    Probe({"session-end"});
    EXPECT_EQ(ReadFile(data_ / "SR_ERR.001"), std::string(kErrNotRun) + "\r\n");
    EXPECT_FALSE(fs::exists(data_ / "SR_START.001"));
    EXPECT_EQ(ReadFile(settings_ / "KBChkBd.txt"), "9600\r\n") << "settings saved when WM_ENDSESSION returned";
  } else {
    EXPECT_EQ(RunToEnd(Wine({"taskkill", "/im", "kolibra.com"}), &out), 0) << out;
  }
  EXPECT_TRUE(ExitedWith(driver_.WaitExit(20000), 0)) << DriverLog();
  EXPECT_EQ(ReadFile(settings_ / "KBTIMER1.TXT"), "200ms\r\n");
  ExpectSavedSettings(com1 ? "0" : "1");
  EXPECT_FALSE(fs::exists(data_ / "SR_MATR.001"));
}

INSTANTIATE_TEST_SUITE_P(Wine, WineLink, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Com1" : "Tcp"; });

// kolibra ctl over the named pipe: each command that needs no job held open, its exit code and texts; another name
// of the settings folder (\\?\Z:...) reaches the same driver; stop ends it in order, and ctl then finds none.
TEST_F(WineE2E, CtlThroughTheNamedPipe) {
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver());
  EXPECT_NE(DriverLog().find("Comandi operatore (kolibra ctl) su \\\\.\\pipe\\KolibraCtl-"), std::string::npos)
      << DriverLog();
  std::string alias = "\\\\?\\Z:" + settings_.string();
  std::ranges::replace(alias, '/', '\\');
  ExpectCtl({"status"}, 0, {kDumpNotDone}, alias);
  const auto testPrinted = [&] { EXPECT_TRUE(WaitFor([&] { return fs::exists(data_ / "FINESCO.001"); }, 30000)); };
  const struct { Args args; int code; Args texts; std::function<void()> then = nullptr; } rows[] = {
      {{"status"}, 0, {std::string("COM 2  no *    rosso   ") + kDumpNotDone}},
      {{"status", "--json"}, 0, {"\"ecr\":{\"serialNumber\":\"99MZT123456\",\"mode\":\"RT\"}", "\"dump\":\"done\"",
                                 "\"last\":null"}},
      {{"test-receipt"}, 1, {kTestButtonDisabled}},
      {{"slots", "1100"}, 1, {std::string("COM 2") + kBoxDisabledSuffix}},
      {{"slots", "0000"}, 0, {"Ricerca lavori: ferma"}},
      {{"slots", "1000"}, 0, {"Ricerca lavori: attiva"}},
      {{"test-receipt"}, 0, {"Scontrino di prova scritto per la porta COM 1"}, testPrinted},
      {{"set-polling", "0"}, 0, {kPollingValueRefused, "Timer in sec.: 0 (1000 ms)"}},
      {{"set-polling", "2"}, 0, {"Timer in sec.: 2 (2000 ms)"}},
      {{"set-speed", "1234"}, 1, {kSpeedRefused}},
      {{"set-speed", "19200"}, 0, {"19200"}},
      {{"mode", "serial"}, 0, {"Collegamento: Seriale"}},
      {{"mode", "network"}, 0, {"Collegamento: Rete"}},
      {{"address", "127.0.0.256"}, 1, {kAddressInvalid}},
      {{"address", "127.0.0.1"}, 0, {kAddressValid}},
      {{"reset-connection"}, 0, {"Connessione: verde"}},
      {{"trace", "on"}, 0, {"Abilita Trace: si"}},
      {{"pass-through", "on"}, 0, {"Attiva Input Xon-Xoff: si"}},
      {{"payments", "8"}, 0, {"N. dei Pagamenti: 8 PAGAMENTI"}},
      {{"fourth-payment", "card"}, 0, {"Pagam.4 = Bancomat: si"}},
      {{"payments", "7"}, 2, {"argomento non valido, si scrive: payments 5|6|8"}},
      {{"status", "now"}, 2, {"argomento non valido, si scrive: status [--json]"}},
      {{"status"}, 0, {"Ultimo lavoro: COM 1, TUTTO OK (0), "}},
      {{"status", "--json"}, 0, {"\"outcome\":\"printed\"", "\"sinceStart\":{\"jobs\":1,\"printed\":1,",
                                 "\"intervalMs\":2000", "\"speed\":\"19200\""}},
      {{"stop"}, 0, {kClosingNotice}},
  };
  for (const auto& row : rows) {
    ExpectCtl(row.args, row.code, row.texts);
    if (row.then) row.then();
  }
  EXPECT_TRUE(ExitedWith(driver_.WaitExit(30000), 0)) << DriverLog();
  EXPECT_EQ(ReadFile(settings_ / "KBCHKCOM.TXT"), "1000\r\n");
  EXPECT_EQ(ReadFile(settings_ / "KBChkBd.txt"), "19200\r\n");
  ExpectCtl({"status"}, 3, {"nessun driver Kolibra in esecuzione"});
}

// kolibra.exe with its window, in the prefix with a desktop and its tray; screenshots for the manual in the build's
// screenshots/ folder.
class WineWindow : public WineE2E {
 protected:
  void SetUp() override {
    WineE2E::SetUp();
    prefix_ = Env("KOLIBRA_WINE_DESKTOP");
    if (!IsSkipped() && prefix_.empty()) GTEST_SKIP() << "no Wine prefix with a desktop";
  }
  // Slot 1 over TCP; the main window made and slot 1 dumped (the splash may be looked at meanwhile).
  void StartWindowed(const std::function<void()>& meanwhile = nullptr) {
    program_ = Wine({"kolibra.exe"});
    headless_ = false;
    slots_ = "1000";
    started_ = meanwhile;
    ASSERT_NO_FATAL_FAILURE(StartDumpedDriver());
    const Args wait = Wine({"win-probe.exe", "wait", "1"});
    ASSERT_TRUE(WaitFor([&] { return RunToEnd(wait, nullptr, "/dev/null") == 0; }, 30000));
  }
  void Shot(const std::string& name) {
    fs::create_directories(path(build_) / "screenshots");
    const path file = path(build_) / "screenshots" / (name + ".png");
    EXPECT_EQ(RunToEnd({"/usr/bin/import", "-window", "root", file.string()}), 0) << name;
  }
  // A probe that acts, then what another probe must say within 5 s.
  void Act(const Args& action, const Args& look, const std::string& want) {
    Probe(action);
    EXPECT_TRUE(ProbeSays(look, want)) << action[0] << ": " << look[0] << " " << Probe(look);
  }
  static std::string Id(int id) { return std::to_string(id); }
  std::string Status() { return ReadFile(root_ / "stats.txt"); }
};

// The splash, then the program in the tray; the window shown from the tray, its controls read back; the test button,
// the polling value (zero refused in a message window that does not hold the program up); a job ends while the tray
// menu or the about window is open; the tray menu asked for during a job opens once it has ended; the tray icon comes
// back for a restarted Explorer; each start refusal stays until OK; --close-running with the tray menu open.
TEST_F(WineWindow, TrayMenusTestButtonRefusalsAndClose) {
  ASSERT_NO_FATAL_FAILURE(StartWindowed([&] {
    EXPECT_TRUE(ProbeSays({"window", "Kolibra Version"}, "1", 30000)) << "splash";
    Shot("splash");
  }));
  const auto closePopup = [&] { Act({"close-popup"}, {"popup"}, "0"); };
  EXPECT_EQ(Probe({"visible"}), "0") << "hidden at start";
  Act({"tray", "515"}, {"visible"}, "1");  // a double click on the tray icon
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // A control's line of `win-probe dump`: id (or "caption"), text, checked=, enabled=, visible=[, items=, selected=].
  const std::string dump = "\n" + Probe({"dump"}) + "\n";
  const auto line = [&](const std::string& id) {
    const std::size_t at = dump.find("\n" + id + "\t");
    return at == std::string::npos ? "(none)" : dump.substr(at + 1, dump.find('\n', at + 1) - at - 1) + "\t";
  };
  const struct { std::string id, shows; } shown[] = {
      {"caption", kWindowCaption}, {Id(IDC_SLOT1_DUMP), kDumpDone}, {Id(IDC_SLOT2_DUMP), kDumpNotDone},
      {Id(IDC_SERIAL_NUMBER), "99MZT123456"}, {Id(IDC_TEST_BUTTON), " Esegui Test"},
      {Id(IDC_SPEED), "items=[9600][19200][38400][57600][115200]"},
      {Id(IDC_PAYMENTS), "items=[5 PAGAMENTI][6 PAGAMENTI][8 PAGAMENTI]"},
      {Id(IDC_NETWORK_OPTION), "checked=1"}, {Id(IDC_SLOT2_ENABLE), "checked=0"},  // the box cleared by the dump
  };
  for (const auto& c : shown) EXPECT_NE(line(c.id).find("\t" + c.shows + "\t"), std::string::npos) << line(c.id);
  Shot("main");

  Probe({"click", Id(IDC_TEST_BUTTON)});
  EXPECT_TRUE(WaitFor([&] { return Status().starts_with("receipts=1"); }, 30000)) << Status();
  EXPECT_NE(Status().find("PROVA"), std::string::npos) << Status();
  EXPECT_TRUE(WaitFor([&] { return fs::exists(data_ / "FINESCO.001"); }, 10000));
  EXPECT_TRUE(ProbeSays({"text", Id(IDC_STATUS)}, kStatusFinishedPrefix + OutcomeStatusText(JobResult::kOk)));
  EXPECT_TRUE(ProbeSays({"enabled", Id(IDC_TEST_BUTTON)}, "1"));

  // The polling value: saved; zero refused in a message window, with which open the program goes on.
  const auto setPolling = [&](const char* value) {
    Probe({"settext", Id(IDC_TIMER_VALUE), value});
    Probe({"click", Id(IDC_SET_TIMER_BUTTON)});
  };
  setPolling("5");
  EXPECT_TRUE(WaitFor([&] { return ReadFile(settings_ / "KBTIMER1.TXT") == "5\r\n"; }, 5000));
  setPolling("0");
  EXPECT_TRUE(ProbeSays({"messages"}, kPollingValueRefused));
  setPolling("500");
  EXPECT_TRUE(ProbeSays({"text", Id(IDC_TIMER_VALUE)}, "500ms"));

  const auto jobUnder = [&](const char* what) {
    fs::remove(data_ / "FINESCO.001");
    EXPECT_TRUE(RunJob(kNextReceipt, 20000) && fs::exists(data_ / "FINESCO.001")) << "a job under the " << what;
  };
  Act({"tray", "517"}, {"popup"}, "1");  // a right click on the tray icon
  Shot("tray-popup");
  jobUnder("tray menu");
  EXPECT_EQ(Probe({"popup"}), "1") << "tray menu open after the job";
  closePopup();
  Act({"menu", Id(IDM_INFO)}, {"window", MakeAboutTexts().caption}, "1");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Shot("about");
  jobUnder("about window");
  Probe({"about-ok"});

  // Asked for during a job, the tray menu would hold the job while open: it opens once the job has ended; the menu
  // bar is ignored until then.
  Act({"menubar"}, {"popup"}, "1");
  closePopup();
  fs::remove(data_ / "FINESCO.001");
  std::string longJob;
  for (int i = 1; i <= 8; ++i) longJob += "SALE,N1,P100" + std::to_string(i) + ",:Pane;\r\n";
  Submit((longJob + "TEND,N1,V9000;\r\n").c_str());
  ASSERT_TRUE(ProbeSays({"text", Id(IDC_STATUS)}, kStatusSending, 10000));
  Probe({"menubar"});
  Probe({"tray", "517"});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(Probe({"popup"}), "0") << "a menu while the job runs";
  EXPECT_TRUE(fs::exists(data_ / "SR_START.001")) << "the job ended before the menu could be seen";
  EXPECT_TRUE(WaitFor([&] { return fs::exists(data_ / "FINESCO.001"); }, 20000));
  EXPECT_TRUE(ProbeSays({"popup"}, "1")) << "tray menu once the job ended";
  closePopup();
  // The tray icon, gone with the old taskbar, back for the new one.
  EXPECT_EQ(Probe({"tray-icon"}), "1");
  Act({"tray-delete"}, {"tray-icon"}, "0");
  Act({"taskbar-created"}, {"tray-icon"}, "1");

  const std::string none = (root_ / "none").string(), noData = (root_ / "nodata").string();
  fs::create_directories(root_ / "settings2");
  const struct { const char* what; int code; std::string text; Args args; } refusals[] = {
      {"bad option", 2, "kolibra: opzione sconosciuta '--bogus'", {"--bogus"}},
      {"no settings folder", 1, none + kDirMissingSuffix, {"--settings-dir", none}},
      {"no data folder", 1, noData + kDirMissingSuffix,
       {"--settings-dir", (root_ / "settings2").string(), "--data-dir", noData}},
      {"settings folder in use", 3, "Cartella impostazioni gia' in uso da un'altra copia di Kolibra",
       {"--settings-dir", settings_.string(), "--data-dir", data_.string()}},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.what);
    Args argv{"kolibra.exe"};
    argv.insert(argv.end(), r.args.begin(), r.args.end());
    ChildProcess refused;
    ASSERT_TRUE(refused.Start(Wine(argv), root_ / "refused.log"));
    const auto shows = [&] { return Probe({"messages"}).find(r.text) != std::string::npos; };
    EXPECT_TRUE(WaitFor(shows, 30000)) << Probe({"messages"});
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_TRUE(refused.WaitExit(0) == -1 && shows()) << "ended before OK";
    EXPECT_TRUE(WaitFor([&] { Probe({"message-ok"}); return refused.WaitExit(300) != -1; }, 10000));
    EXPECT_TRUE(ExitedWith(refused.WaitExit(0), r.code));
  }

  // What an upgrade's close does (WM_CLOSE to the window), with the tray menu open: the menu ends, the close goes on.
  fs::remove(settings_ / "KBChkBd.txt");
  Act({"tray", "517"}, {"popup"}, "1");
  ChildProcess closer;
  ASSERT_TRUE(closer.Start(Wine({"kolibra.exe", "--close-running"}), root_ / "close.log"));
  if (ProbeSays({"window", kClosingNotice}, "1")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Shot("closing");
  }
  EXPECT_NE(driver_.WaitExit(30000), -1) << "program ended";
  EXPECT_TRUE(ExitedWith(closer.WaitExit(30000), 0));
  ExpectSavedSettings();
}

// Minimized to the tray, where it normally sits: after the dump and a printed job, ctl status shows the last job,
// and ctl test-receipt is accepted and the test receipt printed.
TEST_F(WineWindow, MinimizedToTheTrayCtlStatusAndTestReceipt) {
  ASSERT_NO_FATAL_FAILURE(StartWindowed());
  Probe({"tray", "515"});
  ASSERT_TRUE(ProbeSays({"visible"}, "1"));
  Probe({"minimize"});
  ASSERT_TRUE(RunJob(kNextReceipt, 30000));
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco");
  ExpectCtl({"status"}, 0, {"Ultimo lavoro: COM 1, TUTTO OK (0), "});
  ExpectCtl({"test-receipt"}, 0, {"Scontrino di prova scritto per la porta COM 1"});
  EXPECT_TRUE(WaitFor([&] { return Status().starts_with("receipts=2"); }, 30000)) << Status();
}

}  // namespace
}  // namespace kolibra::e2e
