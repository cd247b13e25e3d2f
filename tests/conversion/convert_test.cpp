// Whole command files converted: records in order, refusals, hostile and
// UTF-8 input, the XON.txt file, and the convert command.
#include "conversion/convert.h"
#include "conversion/convert_cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "conversion/utf8_text.h"
#include "fakes/fake_platform.h"

namespace kolibra {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Lines = std::vector<std::string>;
using fakes::FakeNotifier;

ConversionSettings Family(const std::string& code, bool rt = false) {
  ConversionSettings s;
  s.tenderFamily = code;
  s.rt = rt;
  s.rtSerial = "99ZTA123456";
  return s;
}

struct Outcome {
  int16_t result = -1, count = 0;
  Lines lines, messages;
  std::string refusal;
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
  r.refusal = env.refusal;
  return r;
}

TEST(ConvertCommandText, ConvertsRecordsInOrder) {
  struct Case {
    const char* name;
    std::string text;
    Lines lines;
    int count;
    ConversionSettings settings = Family("ZT");
  };
  const Case cases[] = {
      {"worked example: decimal-price comment first, TEND,N4 moved last",
       "SALE,N1,P1000,:Pane;\r\nSALE,N2,P2.50,Q2,:Latte;\r\nTEND,N4,V500;\r\nTEND,N1,V1500;\r\n",
       {"\"PANE\"1000H1R", "\"  2 X 2.5\"@", "\"LATTE\"1*500H2R", "1500H1T", "500H4T"}, 2},
      {"first item from a PLUD: its comment follows",
       "PLUD,N1,P1.99;\r\nSALE,N2,P0.5;\r\nTEND,N1;",
       {"1*199H1R", "\" ^---**  1 X 1.99\"@", "\"  1 X 0.5\"@", "1*50H2R", "1T"}, 1},
      {"placeholders at column 1 and inside",
       "SALE,N1,P100,R;\r\nSALE,N1,P200,S,:Sconto;\r\nSALE,N1,P300,S1,R;",
       {"9M100H1R", "0M\"SCONTO\"200H1R", "17MH9M300H1R"}, 0},
      // Payment lines ending with the last-tender suffix move after the others.
      {"TEND,N4 lines go last", "TEND,N4,V100;\r\nTEND,N4,V200;\r\nTEND,N1,V300;",
       {"300H1T", "100H4T", "200H4T"}, 3},
      {"on another family the suffix is 5T", "TEND,N4;\r\nTEND,N1,V500;", {"4T", "500H1T"}, 2,
       Family("OT")},
      {"FUNC,N39 before any candidate does not take a later one",
       "FUNC,N39;\r\nPRNT,:RSSMRA85T10A562S;\r\nSALE,N1,P1;\r\n", {"1H1R"}, 0},
      {"fiscal code in a printed line becomes the customer code, credit function ahead of it",
       "PRNT,:RSSMRA80A01H501U;\r\nSALE,N1,P1000;\r\nFUNC,N39;\r\nCRED,T3,V900;",
       {"938F", "\"RSSMRA80A01H501U\"@39F", "1000H1R", "900H3T"}, 1, Family("AT")},
      {"a double quote in a lottery code cannot end the text early",
       "LOTT,C[AB\"D1234];\r\nSALE,N1,P1;", {"\"AB'D1234\"@39F", "1H1R"}, 0},
      {"control bytes in texts reach the ECR as blanks, tabs are still removed",
       "LOTT,C[AB\x03" "D1234];\r\nSALE,N1,P1,:Pa\x02n\te\x13;\r\nPRNT,:a\x11\x84;\r\nCASH,:c\x7f" "d,V1;",
       {"\"AB D1234\"@39F", "\"PA NE \"1H1R", "\"A \x84\"@", "\"C D\"1H1T"}, 1},
      {"a line that skips the normalizer carries no control byte in its numbers either",
       "SALE,N1\x02,P100,:OPFS\x03;\r\nTEND,N1,V5\x11,:OPFS;",
       {"\"OPFS \"100H1 R", "\"OPFS\"5 H1T"}, 1},
      {"invoice heading; OPNF and CLNF produce nothing in invoice mode",
       "OPFS,N7,:Cliente Uno;\r\nEXTL,:Consegna;\r\nOPNF;\r\nCLNF;\r\nSALE,N1,P100;",
       {"\"0007\"@", "99F", "\"Cliente Uno\"@", "937F", "\"CONSEGNA\"@", "100H1R"}, 0},
      {"a cheque mentioned in a text is not a payment",
       "SALE,N1,P100,:Buono cheque;\r\nPRNT,:Pagato con cheque;\r\nCHEQ,V100;\r\n",
       {"\"BUONO CHEQUE\"100H1R", "\"PAGATO CON CHEQUE\"@", "100H3T"}, 1},
      {"a minus is kept in texts and dropped from department and tender numbers and zeros",
       "SALE,N-1,P100,:Pane -1, V-5;\r\nPRNT,:Resto, Q-1;\r\nTEND,N-1,V-0;",
       {"\"PANE -1\"100H1R", "\"RESTO\"@", "0H1T"}, 1},
      {"blank lines, ignored records, CR without LF, no final line end",
       "\r\n   \r\n;\r\nDATE,:01/01/2024;\r\nCLFS;\r\nLOTT,C1;\r\nSALE,N1,P100;\rTEND,N1;",
       {"100H1R", "1T"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome r = ConvertText(c.text, c.settings);
    EXPECT_EQ(r.result, 0);
    EXPECT_THAT(r.lines, ElementsAreArray(c.lines));
    EXPECT_EQ(r.count, c.count);
    EXPECT_THAT(r.messages, ElementsAre());
  }
}

// Refusals: an ERRO line, a bad document reference, unreadable bytes. Unexpected
// failures also give a message, instead of ending the program.
TEST(ConvertCommandText, Refuses) {
  const struct {
    std::string text;
    bool rt;
    int overflowLine;  // 0: refused without a message
  } cases[] = {
      {"SALE,N1,P1;\r\nXYZW,N1;", false, 0}, {"NDCR,>A;", true, 0},
      {"DELD,D01022024;", true, 0},            {"\x01\x02\xff\xfe", false, 0},
      // Numbers too large for their field refuse instead of wrapping.
      {"SALE,N1,P1;\r\nTEND,N99999;", false, 2}, {"SALE,N1,P99999999.99,Q1000;", false, 1},
      {"TEND,N32767.5;", false, 1},            {"CRED,T40000;", false, 1},
      {"DISP,N99999,:CIAO;", false, 1},        {"BARC,T99999,:123;", false, 1},
      // Amounts, prices, quantities and percentages have no sign.
      {"SALE,N1,P1;\r\nSALE,N-1,P-1000,Q-3;", false, 0}, {"PLUD,N1,P1,Q -0.5;", false, 0},
      {"SALE,N1,P-2.5,Q-2,:OPFS;", false, 0},  // skips the normalizer; -2.5 x -2 is positive
      {"TEND,N1,V-500;", false, 0},            {"TICK,Q-2,V800;", false, 0},
      {"BANC,V- 1;", false, 0},                {"CARD,V-.5;", false, 0},
      {"CHEQ,V-100;", false, 0},               {"CRED,T1,V-900;", false, 0},
      {"CASH,V-100;", false, 0},               {"ADDS,V-250;", false, 0},
      {"DISC,%-10;", false, 0},                {"MOST,V-100;", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Outcome r = ConvertText(c.text, Family("ZT", c.rt));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.messages, c.overflowLine ? Lines{"Errore Conv = Overflow - 6 Line : " +
                                                 std::to_string(c.overflowLine)}
                                         : Lines{});
    if (c.overflowLine == 0) {
      // The refusal names the record: here always the last one.
      const std::size_t last = c.text.rfind('\n');
      const auto row = std::count(c.text.begin(), c.text.end(), '\n') + 1;
      EXPECT_EQ(r.refusal, "riga " + std::to_string(row) + " non convertibile: " +
                               c.text.substr(last == std::string::npos ? 0 : last + 1));
    }
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
  Outcome r = ConvertText("PRNT,:" + std::string(1 << 20, 'x') + "\r\nSALE,N1,P1;");
  EXPECT_EQ(r.result, 0);
  EXPECT_THAT(r.lines, ElementsAre("\"" + std::string(30, 'X') + "\"@", "1H1R"));
  // The function number does not fit a command line.
  EXPECT_EQ(ConvertText("FUNC,N" + std::string(1 << 20, '7')).result, 1);

  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 37) & 0xff));
  r = ConvertText(binary);
  EXPECT_TRUE(r.result == 0 || r.result == 1);

  // Credit functions go in front of everything, in their own order.
  std::string credits;
  for (int i = 0; i < 1000; ++i) credits += "SALE,N1,P1;\n";
  for (int i = 0; i < 300; ++i) credits += "CRED,T3;\n";
  r = ConvertText(credits);
  ASSERT_EQ(r.lines.size(), 1600u);
  EXPECT_EQ(r.lines[299], "938F");
  EXPECT_EQ(r.lines[300], "1H1R");

  r = ConvertText(std::string(kMaxCommandFileLines + 1, '\n'));
  EXPECT_EQ(r.result, 1);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_THAT(r.messages[0], ::testing::HasSubstr("troppe righe"));
}

// A UTF-8 file converts as the Windows-1252 text it stands for; an 8-bit file
// (not valid UTF-8) as it is.
TEST(ConvertCommandText, ReadsUtf8AsCodePageText) {
  const struct {
    const char* name;
    std::string text;
    Lines lines;
  } cases[] = {
      {"an accented letter is one character", "SALE,N1,P100,:Caff\xc3\xa8 gi\xc3\xb9;", {"\"CAFFE GIU\"100H1R"}},
      {"byte-order mark dropped", "\xef\xbb\xbfSALE,N1,P100;\r\nTEND,N1;", {"100H1R", "1T"}},
      {"code-page characters beyond Latin-1",
       "PRNT,:L\xe2\x80\x99\xe2\x82\xac \xc3\xbc \xc3\x9f;", {"\"L\x92" "E UE \xdf\"@"}},
      {"letters outside the code page: plain letter, else ?",
       "PRNT,:M\xc4\x81ria \xc5\x81\xc3\xb3" "d\xc5\xba \xc8\x99 \xf0\x9f\x98\x80 \xc2\x85;",
       {"\"MARIA LODZ ? ? ?\"@"}},
      {"decomposed letters", "PRNT,:e\xcc\x80 a\xcc\x88 n\xcc\x8c \xcc\x81x;", {"\"E AE N X\"@"}},
      {"the width counts code-page characters",
       "PRNT,:" + [] { std::string s; for (int i = 0; i < 29; ++i) s += "\xc3\xa8"; return s; }() + "ab;",
       {"\"" + std::string(29, 'E') + "A\"@"}},
      {"a line that skips the normalizer is transcoded too", "OPFS,N7,:Citt\xc3\xa0;",
       {"\"0007\"@", "99F", "\"Citt\xe0\"@", "937F"}},
      {"8-bit file", "SALE,N1,P100,:Caff\xe8;", {"\"CAFFE\"100H1R"}},
      {"8-bit file with UTF-8-like bytes", "PRNT,:\xc3\xa8\xe8;", {"\"E\xa8" "E\"@"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome r = ConvertText(c.text);
    EXPECT_EQ(r.result, 0) << r.refusal;
    EXPECT_THAT(r.lines, ElementsAreArray(c.lines));
  }
  // Not UTF-8 (overlong, surrogate, beyond U+10FFFF, cut short), or ASCII only:
  // left as it is.
  for (const char* t : {"\xc3\xa8\xc0\xaf", "\xc3\xa8\xed\xa0\x80", "\xc3\xa8\xf4\x90\x80\x80",
                        "\xc3\xa8\xe2\x82", "SALE,N1;"}) {
    EXPECT_EQ(Utf8ToCp1252(t), std::nullopt) << t;
  }
  EXPECT_EQ(Utf8ToCp1252("\xef\xbb\xbf"), "");
}

class ConvertCommandFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.settings = Family("ZT");
    env_.dataDir = dir_.path();
    env_.fs = &fs_;
    env_.notifier = &notifier_;
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    fakes::WriteFileBytes(dir_.File(name), bytes);
    return dir_.File(name);
  }

  fakes::ScratchDir dir_;
  FakeNotifier notifier_;
  fakes::FakeFileSystem fs_;
  ConversionEnv env_;
  Lines lines_;
};

TEST_F(ConvertCommandFileTest, WritesXonWithCrLfAndTraces) {
  Lines trace;
  env_.trace = [&trace](const std::string& line) { trace.push_back(line); };
  Write("XON.txt", "stale contents that are longer than the new ones\r\n");
  const std::string input = "SALE,N1,P100,:Pane \xe8;\r\nTEND,N1;";
  const std::string path = Write("SR_DATI.001", input);
  ASSERT_EQ(ConvertCommandFile(path, lines_, env_), 0);
  EXPECT_EQ(fakes::ReadFileBytes(dir_.File("XON.txt")), "\"PANE E\"100H1R\r\n1T\r\n");
  EXPECT_THAT(lines_, ElementsAre("\"PANE E\"100H1R", "1T"));
  EXPECT_EQ(env_.tenderLineCount, 1);
  EXPECT_EQ(fakes::ReadFileBytes(path), input);
  EXPECT_THAT(trace, ElementsAre(" ------------ File SR_Dati ------------ ", " - SALE,N1,P100,:Pane \xe8;",
                                 " - TEND,N1;", " -------------------------------------- "));
}

// Empty files and refusals leave no XON.txt; missing, oversized and
// unwritable files are refused with a message.
TEST_F(ConvertCommandFileTest, RefusalsLeaveNoXon) {
  const std::pair<const char*, int> cases[] = {{"", 0}, {"ZZZZ;\r\n", 1}, {"TEND,N99999;", 1}};
  for (const auto& [text, result] : cases) {
    Write("XON.txt", "old\r\n");
    EXPECT_EQ(ConvertCommandFile(Write("SR_DATI.001", text), lines_, env_), result) << text;
    EXPECT_FALSE(std::filesystem::exists(dir_.File("XON.txt"))) << text;
  }
  EXPECT_TRUE(std::filesystem::exists(dir_.File("SR_DATI.001")));
  notifier_.messages.clear();

  const std::string missing = dir_.File("SR_DATI.002");
  EXPECT_EQ(ConvertCommandFile(missing, lines_, env_), 1);
  const std::string big = Write("SR_DATI.003", "");
  std::filesystem::resize_file(big, kMaxCommandFileSize + 1);
  EXPECT_EQ(ConvertCommandFile(big, lines_, env_), 1);
  std::filesystem::create_directories(dir_.File("XON.txt") + "/busy");
  EXPECT_EQ(ConvertCommandFile(Write("SR_DATI.001", "SALE,N1,P100;"), lines_, env_), 1);
  ASSERT_EQ(notifier_.messages.size(), 3u);
  EXPECT_EQ(notifier_.messages[0], "Il file " + missing + " non esiste");
  EXPECT_EQ(notifier_.messages[1], "Il file " + big + " supera i 16 MB");
  EXPECT_THAT(notifier_.messages[2], ::testing::StartsWith("Impossibile scrivere il file "));
}

#ifndef _WIN32
// A link under XON.txt when it is written (planted after the early deletion,
// here one that failed) is replaced, never written through.
TEST_F(ConvertCommandFileTest, XonIsWrittenAsANewFile) {
  const std::string precious = Write("precious", "precious");
  std::filesystem::create_symlink(precious, dir_.File("XON.txt"));
  fs_.FailRemove(dir_.File("XON.txt"), 1);
  ASSERT_EQ(ConvertCommandFile(Write("SR_DATI.001", "SALE,N1,P100;"), lines_, env_), 0);
  EXPECT_EQ(fakes::ReadFileBytes(precious), "precious");
  EXPECT_EQ(fakes::ReadFileBytes(dir_.File("XON.txt")), "100H1R\r\n");
}
#endif

class ConvertCliTest : public ConvertCommandFileTest {
 protected:
  std::string Write(const std::string& bytes) { return ConvertCommandFileTest::Write("SR_DATI.001", bytes); }
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return RunConvertCommand(args, out_, err_);
  }
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
