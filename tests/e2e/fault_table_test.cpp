// Link faults played by the simulator, end to end: for each, the result
// files, the lines the ECR took, whether the driver serves the next job, and
// whether the session's traces replayed to a fresh driver give the same.
#include <algorithm>

#include "e2e/fault_rows.h"
#include "e2e/replay_fixture.h"

namespace {

using namespace kolibra::e2e;

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

}  // namespace
