// `kolibra submit` against the built driver and the simulator: each outcome
// as the calling application sees it, in exit code, stdout and stderr.
#include "e2e/e2e_fixture.h"

namespace {

using namespace kolibra::e2e;

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
  const struct {
    const char* name;
    std::string commands;
    int code;
    std::string outStart;
    std::string err;
  } rows[] = {
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
