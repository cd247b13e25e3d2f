// The text of a command file end to end: a file written in UTF-8 reaches the
// ECR as the code-page text it stands for.
#include "e2e/e2e_fixture.h"

namespace {

using namespace kolibra::e2e;

TEST_F(DriverE2E, Utf8CommandFileReachesTheEcrAsCodePageText) {
  ASSERT_NO_FATAL_FAILURE(StartDumpedDriver());
  // "è" is two bytes in UTF-8; the ECR gets the one letter it prints for it.
  ASSERT_TRUE(RunJob("SALE,N1,P100,:Caff\xc3\xa8;\r\nTEND,N1;\r\n"));
  EXPECT_EQ(ReadFile(data_ / "FINESCO.001"), "finesco") << ReadFile(data_ / "SR_ERR.001");
  const SimStats stats = FinalStats();
  EXPECT_EQ(stats.receipts, 1);
  EXPECT_EQ(stats.lines, OnceEach({"\"CAFFE\"100H1R", "1T"}));
}

}  // namespace
