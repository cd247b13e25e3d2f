#include "conversion/convert_cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kolibra {
namespace {

class ConvertCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("kolibra-cli-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& bytes) {
    const std::string path = (dir_ / "SR_DATI.001").string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return RunConvertCommand(args, out_, err_);
  }

  std::filesystem::path dir_;
  std::ostringstream out_;
  std::ostringstream err_;
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
      {{"--rt-serial", "99MZT012345", "--tender-code", "OT", receipt}, 0,
       "1000H1R\r\n500H4T\r\n500H1T\r\n"},
      {{"--tender-code", "ZT", "--pag4-bancomat", receipt}, 0, "1000H1R\r\n500H3T\r\n500H1T\r\n"},
      {{"--payments", "8", "--tender-code", "ZT", receipt}, 0, "1000H1R\r\n500H1T\r\n500H4T\r\n"},
      {{"--help"}, 0, ""},
      {{}, 2, ""},
      {{"--payments", "7", receipt}, 2, ""},
      {{"--payments"}, 2, ""},
      {{"--rt-serial", "short", receipt}, 2, ""},
      {{"--bogus", receipt}, 2, ""},
      {{receipt, receipt}, 2, ""},
      {{(dir_ / "missing").string()}, 1, ""},
  };
  for (const Case& c : cases) {
    const int code = Run(c.args);
    const std::string joined = ::testing::PrintToString(c.args);
    EXPECT_EQ(code, c.code) << joined;
    if (c.args.size() == 1 && c.args[0] == "--help") continue;
    EXPECT_EQ(out_.str(), c.out) << joined;
    EXPECT_EQ(err_.str().empty(), c.code == 0) << joined;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "XON.txt"));
}

TEST_F(ConvertCliTest, RefusalPrintsNothingAndGivesTheReason) {
  const std::string path = Write("SALE,N1,P1000;\r\nTEND,N99999;\r\n");
  EXPECT_EQ(Run({path}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_THAT(err_.str(), ::testing::HasSubstr("Errore Conv = Overflow - 6 Line : 2"));
}

TEST_F(ConvertCliTest, WritesXonOnlyWhenAsked) {
  const std::string path = Write("SALE,N1,P1000;");
  EXPECT_EQ(Run({"--xon-dir", dir_.string(), path}), 0);
  std::ifstream in(dir_ / "XON.txt", std::ios::binary);
  std::stringstream xon;
  xon << in.rdbuf();
  EXPECT_EQ(xon.str(), "1000H1R\r\n");
  EXPECT_EQ(out_.str(), "1000H1R\r\n");
}

}  // namespace
}  // namespace kolibra
