// Link faults played by the simulator, end to end: for each, the result
// files, the lines the ECR took, whether the driver serves the next job, and
// whether the session's traces replayed to a fresh driver give the same. A
// plain network session traced by the driver, one answer or the job changed,
// replayed to a fresh driver, gives the outcome the change calls for.
#include <algorithm>
#include <cstdio>
#include <functional>

#include "e2e/fault_rows.h"

namespace {

using namespace kolibra::e2e;

// Sessions traced by the driver and replayed by the simulator to a fresh
// driver: what one left, and the checks that a replay gave the same.
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

  // Stops the driver and the simulator, then runs `commands` for a fresh
  // driver (an empty data folder) against the simulator replaying `played`;
  // `replayed` is what that left.
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

  // The same result files and answers (the recording simulator ran with
  // --verbose), every command of the traces played in order and nothing
  // else, and no longer than recorded.
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

struct EditRow {
  const char* name;
  std::function<void(Session&)> edit;
  const char* commands;  // the job run against the replay
  std::vector<std::string> simArgs;
  const char* file;      // a result file
  std::string holds;     // a text it must hold
  std::string reported;  // a text the simulator's stderr must hold; none: no difference
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
