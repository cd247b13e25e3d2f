#include "conversion/convert_cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/fake_platform.h"

namespace kolibra {
namespace {

class ConvertCliTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    fakes::WriteFileBytes(dir_.File("SR_DATI.001"), bytes);
    return dir_.File("SR_DATI.001");
  }
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return RunConvertCommand(args, out_, err_);
  }

  fakes::ScratchDir dir_;
  std::ostringstream out_, err_;
};

TEST_F(ConvertCliTest, PrintsLinesAndExitCodes) {
  const std::string receipt = Write("SALE,N1,P1000;\r\nTEND,N4,V500;\r\nTEND,N1,V500;\r\n");
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string out;
  } cases[] = {
      {{receipt}, 0, "1000H1R\r\n500H4T\r\n500H1T\r\n"},
      // The tender family comes from characters 4 and 5 of the RT serial.
      {{"--rt-serial", "99MZT012345", receipt}, 0, "1000H1R\r\n500H1T\r\n500H4T\r\n"},
      {{"--tender-code", "ZT", "--pag4-bancomat", receipt}, 0, "1000H1R\r\n500H3T\r\n500H1T\r\n"},
      {{}, 2, ""},
      {{"--bogus", receipt}, 2, ""},
      {{receipt, receipt}, 2, ""},
      {{dir_.File("missing")}, 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(Run(c.args), c.code);
    EXPECT_EQ(out_.str(), c.out);
    EXPECT_EQ(err_.str().empty(), c.code == 0);
    if (c.code == 2) {
      EXPECT_EQ(err_.str().rfind("kolibra convert: ", 0), 0u) << err_.str();
    }
  }
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("XON.txt")));

  // A refusal prints nothing and gives the reason; XON.txt only when asked.
  EXPECT_EQ(Run({Write("SALE,N1,P1000;\r\nTEND,N99999;\r\n")}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_THAT(err_.str(), ::testing::HasSubstr("Errore Conv = Overflow - 6 Line : 2"));
  EXPECT_EQ(Run({Write("SALE,N1,P1000;\r\nQQQQ,N1;\r\n")}), 1);
  EXPECT_THAT(err_.str(), ::testing::HasSubstr("riga 2 non convertibile: QQQQ,N1;"));
  EXPECT_EQ(Run({"--xon-dir", dir_.path(), Write("SALE,N1,P1000;")}), 0);
  EXPECT_EQ(fakes::ReadFileBytes(dir_.File("XON.txt")), "1000H1R\r\n");
  EXPECT_EQ(out_.str(), "1000H1R\r\n");
  // A UTF-8 file converts as its code-page text.
  EXPECT_EQ(Run({Write("\xef\xbb\xbfSALE,N1,P100,:Caff\xc3\xa8;")}), 0);
  EXPECT_EQ(out_.str(), "\"CAFFE\"100H1R\r\n");
}

}  // namespace
}  // namespace kolibra
