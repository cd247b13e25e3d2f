#include "conversion/convert.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fakes/fake_platform.h"

namespace kolibra {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Lines = std::vector<std::string>;
using fakes::FakeNotifier;

ConversionSettings Family(const std::string& code) {
  ConversionSettings s;
  s.tenderFamily = code;
  return s;
}

struct Outcome {
  int16_t result = -1;
  Lines lines;
  Lines messages;
  int16_t count = 0;
};

Outcome ConvertText(std::string_view text, const ConversionSettings& settings = Family("ZT")) {
  FakeNotifier notifier;
  ConversionEnv env;
  env.settings = settings;
  env.notifier = &notifier;
  env.tenderLineCount = 99;
  Outcome r;
  r.result = ConvertCommandText(text, r.lines, env);
  r.messages = notifier.messages;
  r.count = env.tenderLineCount;
  return r;
}

struct Case {
  const char* name;
  std::string text;
  Lines lines;
  int count;
};

TEST(ConvertCommandText, ConvertsRecordsInOrder) {
  const Case cases[] = {
      {"worked example: decimal-price comment first, TEND,N4 moved last",
       "SALE,N1,P1000,:Pane;\r\nSALE,N2,P2.50,Q2,:Latte;\r\nTEND,N4,V500;\r\nTEND,N1,V1500;\r\n",
       {"\"PANE\"1000H1R", "\"  2 X 2.5\"@", "\"LATTE\"1*500H2R", "1500H1T", "500H4T"},
       2},
      {"fiscal code in a printed line becomes the customer code",
       "PRNT,:RSSMRA85T10A562S;\r\nSALE,N1,P100;\r\nFUNC,N39;\r\n",
       {"\"RSSMRA85T10A562S\"@39F", "100H1R"},
       0},
      {"a later candidate replaces an earlier one",
       "PRNT,:RSSMRA85T10A562S;\r\nPRNT,:01234567897;\r\nFUNC,N39;\r\n",
       {"\"01234567897\"@39F"},
       0},
      {"FUNC,N39 before any candidate does not take a later one",
       "FUNC,N39;\r\nPRNT,:RSSMRA85T10A562S;\r\nSALE,N1,P1;\r\n",
       {"1H1R"},
       0},
      {"lottery code in brackets", "SALE,N1,P100;\r\nLOTT,C[ABCD1234];\r\n",
       {"\"ABCD1234\"@39F", "100H1R"}, 0},
      {"lottery code of seven characters is not emitted", "LOTT,C[ABCD123];\r\nSALE,N1,P100;\r\n",
       {"100H1R"}, 0},
      {"comma in a printed text splits it", "PRNT,:Hello, world;", {"\"HELLO\"@"}, 0},
      {"return flag placeholder at column 1", "SALE,N1,P100,R;", {"9M100H1R"}, 0},
      {"discount amount", "DISC,V150;", {"150H3M"}, 0},
      {"discount percentage", "DISC,%10;", {"10*3M"}, 0},
      {"subtotal surcharge percentage", "MOST,%2.5;", {"=2.50*8M"}, 0},
      {"clear, function, cash", "CLER;\r\nFUNC,N12;\r\nCASH,V500;\r\n", {"K", "12F", "500H1T"}, 1},
      {"cash and cheque tenders are counted", "CASH;\r\nCHEQ,V100;\r\n", {"1T", "100H3T"}, 2},
      {"extra text line is not printed twice", "EXTL,:Grazie;\r\nSALE,N1,P1;", {"1H1R"}, 0},
      {"extra text line holding a VAT number gives the customer code",
       "EXTL,:01234567897;\r\nSALE,N1,P1;", {"\"01234567897\"@", "39F", "1H1R"}, 0},
      {"ignored records", "DATE,:01/01/2024;\r\nCLFS;\r\nFUNC,N39;\r\nLOTT,C1;\r\n", {}, 0},
      {"blank and empty lines are skipped", "\r\n   \r\nSALE,N1,P1;\r\n;\r\n", {"1H1R"}, 0},
      {"CR without LF and no final line end", "SALE,N1,P100;\rTEND,N1;", {"100H1R", "1T"}, 1},
      {"NUL bytes inside a number are cleaned", std::string("SALE,N1,P1\0" "00;", 14),
       {"100H1R"}, 0},
      {"a cheque mentioned in a text is not a payment",
       "SALE,N1,P100,:Buono cheque;\r\nPRNT,:Pagato con cheque;\r\nEXTL,:cheque;\r\n",
       {"\"BUONO CHEQUE\"100H1R", "\"PAGATO CON CHEQUE\"@"}, 0},
      {"drawer, display, non-fiscal document", "OPEN,N1;\r\nDISP,N5,:Ciao;\r\nOPNF;\r\nCLNF;",
       {"a", "\"CIAO\"2%", "j", "J"}, 0},
      {"OPNF and CLNF produce nothing in invoice mode",
       "OPFS,:Name;\r\nOPNF;\r\nCLNF;", {"99F", "\"Name\"@", "937F"}, 0},
  };
  for (const Case& c : cases) {
    const Outcome r = ConvertText(c.text);
    EXPECT_EQ(r.result, 0) << c.name;
    EXPECT_THAT(r.lines, ElementsAreArray(c.lines)) << c.name;
    EXPECT_EQ(r.count, c.count) << c.name;
    EXPECT_THAT(r.messages, ElementsAre()) << c.name;
  }
}

TEST(ConvertCommandText, ReordersPaymentsEndingWithTheLastTenderSuffix) {
  struct Reorder {
    const char* family;
    std::string text;
    Lines lines;
  } cases[] = {
      {"ZT", "TEND,N4,V100;\r\nTEND,N4,V200;\r\nTEND,N1,V300;",
       {"300H1T", "100H4T", "200H4T"}},
      {"ZT", "TEND,N4;\r\nSALE,N1,P1;\r\nTEND,N1,V500;", {"1H1R", "500H1T", "4T"}},
      // On another family the suffix is "5T": nothing ends with it.
      {"OT", "TEND,N4;\r\nTEND,N1,V500;", {"4T", "500H1T"}},
      // A single payment line is never moved.
      {"ZT", "TEND,N4,V100;\r\nSALE,N1,P1;", {"100H4T", "1H1R"}},
      // Without a TEND,N4 there is no suffix.
      {"ZT", "CASH,V1;\r\nCARD,V2;\r\nTEND,N2,V3;", {"1H1T", "2H3T", "3H2T"}},
  };
  for (const Reorder& c : cases) {
    const Outcome r = ConvertText(c.text, Family(c.family));
    EXPECT_EQ(r.result, 0) << c.text;
    EXPECT_THAT(r.lines, ElementsAreArray(c.lines)) << c.text;
  }
}

TEST(ConvertCommandText, RefusesWhatCannotBeConverted) {
  ConversionSettings rt = Family("ZT");
  rt.rt = true;
  rt.rtSerial = "99MEZ012345";
  struct Refusal {
    const char* text;
    ConversionSettings settings;
  } cases[] = {
      {"SALE,N1,P1;\r\nXYZW,N1;", Family("ZT")},
      {"MOST;", Family("ZT")},
      {"FUNC;", Family("ZT")},
      {"TEND,V100;", Family("ZT")},
      {"NDCR,>A;", rt},
      {"NDCR,>ABC,N12345678,D01022024;", rt},
      {"\x01\x02\xff\xfe", Family("ZT")},
  };
  for (const Refusal& c : cases) {
    const Outcome r = ConvertText(c.text, c.settings);
    EXPECT_EQ(r.result, 1) << c.text;
    EXPECT_THAT(r.messages, ElementsAre()) << c.text;
  }
}

TEST(ConvertCommandText, EmptyTextLeavesTheJobLinesAlone) {
  FakeNotifier notifier;
  ConversionEnv env;
  env.notifier = &notifier;
  Lines lines = {"old"};
  EXPECT_EQ(ConvertCommandText("", lines, env), 0);
  EXPECT_THAT(lines, ElementsAre("old"));
}

// Unexpected failures refuse the conversion with a message instead of ending
// the program.
TEST(ConvertCommandText, ReportsUnexpectedFailuresAndRefuses) {
  struct Failure {
    std::string text;
    const char* message;
  } cases[] = {
      {"SALE,N1,P1;\r\nTEND,N99999;", "Errore Conv = Overflow - 6 Line : 2"},
      {"DISP,N70000,:x;", "Errore Conv = Overflow - 6 Line : 1"},
  };
  for (const Failure& c : cases) {
    const Outcome r = ConvertText(c.text);
    EXPECT_EQ(r.result, 1) << c.text;
    EXPECT_THAT(r.messages, ElementsAre(c.message)) << c.text;
  }

  // The 16-bit tender-line count overflows at its 32768th payment line.
  std::string many;
  for (int i = 0; i < 40000; ++i) many += "TEND,N1,V1;\r\n";
  const Outcome r = ConvertText(many);
  EXPECT_EQ(r.result, 1);
  EXPECT_THAT(r.messages, ElementsAre("Errore Conv = Overflow - 6 Line : 32768"));
  EXPECT_EQ(r.count, 32767);
}

TEST(ConvertCommandText, SurvivesHugeAndHostileInput) {
  const std::string megabyte(1 << 20, 'x');
  {
    const Outcome r = ConvertText("PRNT,:" + megabyte + "\r\nSALE,N1,P1;");
    EXPECT_EQ(r.result, 0);
    EXPECT_THAT(r.lines, ElementsAre("\"" + std::string(30, 'X') + "\"@", "1H1R"));
  }
  {
    // A megabyte of record without any comma or line end.
    const Outcome r = ConvertText("SALE" + megabyte);
    EXPECT_EQ(r.result, 0);
  }
  {
    const Outcome r = ConvertText("FUNC,N" + std::string(1 << 20, '7'));
    EXPECT_EQ(r.result, 1);  // the function number does not fit a command line
  }
  {
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 37) & 0xff));
    const Outcome r = ConvertText(binary);
    EXPECT_TRUE(r.result == 0 || r.result == 1);
  }
  {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "SALE,N1,P100;\r\n";
    const Outcome r = ConvertText(text);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.lines.size(), 100000u);
  }
  {
    // More lines than the conversion takes.
    const Outcome r = ConvertText(std::string(kMaxCommandFileLines + 1, '\n'));
    EXPECT_EQ(r.result, 1);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_THAT(r.messages[0], ::testing::HasSubstr("troppe righe"));
  }
}

class ConvertCommandFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("kolibra-conv-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    env_.settings = Family("ZT");
    env_.dataDir = dir_.string();
    env_.notifier = &notifier_;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool XonExists() { return std::filesystem::exists(dir_ / "XON.txt"); }

  std::filesystem::path dir_;
  FakeNotifier notifier_;
  ConversionEnv env_;
  Lines lines_;
};

TEST_F(ConvertCommandFileTest, WritesXonWithCrLf) {
  Write("XON.txt", "stale contents that are longer than the new ones\r\n");
  const std::string path = Write("SR_DATI.001", "SALE,N1,P100,:Pane \xe8;\r\nTEND,N1;");
  ASSERT_EQ(ConvertCommandFile(path, lines_, env_), 0);
  EXPECT_EQ(Read("XON.txt"), "\"PANE E\"100H1R\r\n1T\r\n");
  EXPECT_THAT(lines_, ElementsAre("\"PANE E\"100H1R", "1T"));
  EXPECT_EQ(env_.tenderLineCount, 1);
  EXPECT_EQ(Read("SR_DATI.001"), "SALE,N1,P100,:Pane \xe8;\r\nTEND,N1;");
}

TEST_F(ConvertCommandFileTest, DeletesXonForEmptyFilesAndRefusals) {
  for (const char* text : {"", "ZZZZ;\r\n", "TEND,N99999;"}) {
    Write("XON.txt", "old\r\n");
    const std::string path = Write("SR_DATI.001", text);
    ConvertCommandFile(path, lines_, env_);
    EXPECT_FALSE(XonExists()) << text;
  }
  EXPECT_TRUE(std::filesystem::exists(dir_ / "SR_DATI.001"));
}

TEST_F(ConvertCommandFileTest, WritesNoXonWithoutDataDirectory) {
  env_.dataDir.clear();
  const std::string path = Write("SR_DATI.001", "SALE,N1,P100;");
  EXPECT_EQ(ConvertCommandFile(path, lines_, env_), 0);
  EXPECT_FALSE(XonExists());
}

TEST_F(ConvertCommandFileTest, RefusesMissingAndOversizedFiles) {
  const std::string missing = (dir_ / "SR_DATI.002").string();
  EXPECT_EQ(ConvertCommandFile(missing, lines_, env_), 1);
  EXPECT_EQ(ConvertCommandFile(dir_.string(), lines_, env_), 1);

  const std::string big = (dir_ / "SR_DATI.003").string();
  std::filesystem::resize_file(Write("SR_DATI.003", ""), kMaxCommandFileSize + 1);
  EXPECT_EQ(ConvertCommandFile(big, lines_, env_), 1);
  EXPECT_THAT(notifier_.messages,
              ElementsAre("Il file " + missing + " non esiste", "Il file " + dir_.string() + " non esiste",
                          "Il file " + big + " supera i 16 MB"));
}

TEST_F(ConvertCommandFileTest, TracesTheCommandFile) {
  Lines trace;
  env_.trace = [&trace](const std::string& line) { trace.push_back(line); };
  const std::string path = Write("SR_DATI.001", "SALE,N1,P100;\r\nTEND,N1;\r\n");
  ASSERT_EQ(ConvertCommandFile(path, lines_, env_), 0);
  EXPECT_THAT(trace, ElementsAre(" ------------ File SR_Dati ------------ ", " - SALE,N1,P100;",
                                 " - TEND,N1;", " -------------------------------------- "));
}

TEST_F(ConvertCommandFileTest, RefusesWhenXonCannotBeWritten) {
  std::filesystem::create_directories(dir_ / "XON.txt" / "busy");
  const std::string path = Write("SR_DATI.001", "SALE,N1,P100;");
  EXPECT_EQ(ConvertCommandFile(path, lines_, env_), 1);
  ASSERT_EQ(notifier_.messages.size(), 1u);
  EXPECT_THAT(notifier_.messages[0], ::testing::StartsWith("Impossibile scrivere il file "));
}

}  // namespace
}  // namespace kolibra
