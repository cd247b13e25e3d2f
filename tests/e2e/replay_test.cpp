// Trace replay end to end: a plain network session traced by the driver, one
// answer or the job changed, replayed to a fresh driver, gives the outcome
// the change calls for.
#include <functional>

#include "e2e/replay_fixture.h"

namespace {

using namespace kolibra::e2e;

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
