#include "conversion/convert.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

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
      {"placeholders in discounts and surcharges", "DISC,V150;\r\nDISC,%10;\r\nMOST,%2.5;",
       {"150H3M", "10*3M", "=2.50*8M"}, 0},
      // Payment lines ending with the last-tender suffix move after the others.
      {"TEND,N4 lines go last", "TEND,N4,V100;\r\nTEND,N4,V200;\r\nTEND,N1,V300;",
       {"300H1T", "100H4T", "200H4T"}, 3},
      {"past a sale too", "TEND,N4;\r\nSALE,N1,P1;\r\nTEND,N1,V500;", {"1H1R", "500H1T", "4T"}, 2},
      {"on another family the suffix is 5T", "TEND,N4;\r\nTEND,N1,V500;", {"4T", "500H1T"}, 2,
       Family("OT")},
      {"a single payment line stays", "TEND,N4,V100;\r\nSALE,N1,P1;", {"100H4T", "1H1R"}, 1},
      {"no TEND,N4, no suffix", "CASH,V1;\r\nCARD,V2;\r\nTEND,N2,V3;", {"1H1T", "2H3T", "3H2T"}, 3},
      {"fiscal code in a printed line becomes the customer code",
       "PRNT,:RSSMRA85T10A562S;\r\nSALE,N1,P100;\r\nFUNC,N39;\r\n",
       {"\"RSSMRA85T10A562S\"@39F", "100H1R"}, 0},
      {"a later candidate replaces an earlier one",
       "PRNT,:RSSMRA85T10A562S;\r\nPRNT,:01234567897;\r\nFUNC,N39;\r\n", {"\"01234567897\"@39F"}, 0},
      {"FUNC,N39 before any candidate does not take a later one",
       "FUNC,N39;\r\nPRNT,:RSSMRA85T10A562S;\r\nSALE,N1,P1;\r\n", {"1H1R"}, 0},
      {"lottery code in brackets", "SALE,N1,P100;\r\nLOTT,C[ABCD1234];\r\nLOTT,C[ABCD123];",
       {"\"ABCD1234\"@39F", "100H1R"}, 0},
      {"extra text line holding a VAT number gives the customer code",
       "EXTL,:Grazie;\r\nEXTL,:01234567897;\r\nSALE,N1,P1;", {"\"01234567897\"@", "39F", "1H1R"}, 0},
      {"credit function ahead of the customer code",
       "PRNT,:RSSMRA80A01H501U;\r\nSALE,N1,P1000;\r\nFUNC,N39;\r\nCRED,T3,V900;",
       {"938F", "\"RSSMRA80A01H501U\"@39F", "1000H1R", "900H3T"}, 1, Family("AT")},
      {"invoice heading; OPNF and CLNF produce nothing in invoice mode",
       "OPFS,N7,:Cliente Uno;\r\nEXTL,:Consegna;\r\nOPNF;\r\nCLNF;\r\nSALE,N1,P100;",
       {"\"0007\"@", "99F", "\"Cliente Uno\"@", "937F", "\"CONSEGNA\"@", "100H1R"}, 0},
      {"return inside a credit note", "NDCR,>VR,D01022024;\r\nSALE,N1,P100,R;",
       {"99F\"0\"@\"0\"@\"01022024\"@\"VR\"@931F", "100H1R"}, 0, Family("ZT", true)},
      {"clear, function, cash and cheque tenders",
       "CLER;\r\nFUNC,N12;\r\nCASH,V500;\r\nCHEQ,V100;", {"K", "12F", "500H1T", "100H3T"}, 2},
      {"a cheque mentioned in a text is not a payment",
       "SALE,N1,P100,:Buono cheque;\r\nPRNT,:Pagato con cheque;\r\nEXTL,:cheque;\r\n",
       {"\"BUONO CHEQUE\"100H1R", "\"PAGATO CON CHEQUE\"@"}, 0},
      {"drawer, display, non-fiscal document", "OPEN,N1;\r\nDISP,N5,:Ciao;\r\nOPNF;\r\nCLNF;",
       {"a", "\"CIAO\"2%", "j", "J"}, 0},
      {"ignored records", "DATE,:01/01/2024;\r\nCLFS;\r\nFUNC,N39;\r\nLOTT,C1;\r\n", {}, 0},
      {"blank and empty lines are skipped", "\r\n   \r\nSALE,N1,P1;\r\n;\r\n", {"1H1R"}, 0},
      {"CR without LF and no final line end", "SALE,N1,P100;\rTEND,N1;", {"100H1R", "1T"}, 1},
      {"NUL bytes inside a number are cleaned", std::string("SALE,N1,P1\0" "00;", 14), {"100H1R"}, 0},
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
  struct Case {
    std::string text;
    bool rt;
    const char* message;  // "" for none
  } cases[] = {
      {"SALE,N1,P1;\r\nXYZW,N1;", false, ""},
      {"MOST;", false, ""},
      {"TEND,V100;", false, ""},
      {"NDCR,>A;", true, ""},
      {"NDCR,>ABC,N12345678,D01022024;", true, ""},
      {"DELD,D01022024;", true, ""},
      {"\x01\x02\xff\xfe", false, ""},
      {"SALE,N1,P1;\r\nTEND,N99999;", false, "Errore Conv = Overflow - 6 Line : 2"},
      {"DISP,N70000,:x;", false, "Errore Conv = Overflow - 6 Line : 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Outcome r = ConvertText(c.text, Family("ZT", c.rt));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.messages, *c.message ? Lines{c.message} : Lines{});
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
  Outcome r = ConvertText("PRNT,:" + megabyte + "\r\nSALE,N1,P1;");
  EXPECT_EQ(r.result, 0);
  EXPECT_THAT(r.lines, ElementsAre("\"" + std::string(30, 'X') + "\"@", "1H1R"));

  EXPECT_EQ(ConvertText("SALE" + megabyte).result, 0);  // no comma, no line end
  // The function number does not fit a command line.
  EXPECT_EQ(ConvertText("FUNC,N" + std::string(1 << 20, '7')).result, 1);

  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 37) & 0xff));
  r = ConvertText(binary);
  EXPECT_TRUE(r.result == 0 || r.result == 1);

  std::string text;
  for (int i = 0; i < 100000; ++i) text += "SALE,N1,P100;\r\n";
  r = ConvertText(text);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.lines.size(), 100000u);

  r = ConvertText(std::string(kMaxCommandFileLines + 1, '\n'));
  EXPECT_EQ(r.result, 1);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_THAT(r.messages[0], ::testing::HasSubstr("troppe righe"));
}

class ConvertCommandFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.settings = Family("ZT");
    env_.dataDir = dir_.path();
    env_.notifier = &notifier_;
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    fakes::WriteFileBytes(dir_.File(name), bytes);
    return dir_.File(name);
  }
  std::string Xon() { return fakes::ReadFileBytes(dir_.File("XON.txt")); }
  bool XonExists() { return std::filesystem::exists(dir_.File("XON.txt")); }

  fakes::ScratchDir dir_;
  FakeNotifier notifier_;
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
  EXPECT_EQ(Xon(), "\"PANE E\"100H1R\r\n1T\r\n");
  EXPECT_THAT(lines_, ElementsAre("\"PANE E\"100H1R", "1T"));
  EXPECT_EQ(env_.tenderLineCount, 1);
  EXPECT_EQ(fakes::ReadFileBytes(path), input);
  EXPECT_THAT(trace, ElementsAre(" ------------ File SR_Dati ------------ ", " - SALE,N1,P100,:Pane \xe8;",
                                 " - TEND,N1;", " -------------------------------------- "));
}

TEST_F(ConvertCommandFileTest, DeletesXonForEmptyFilesAndRefusals) {
  const std::pair<const char*, int> cases[] = {{"", 0}, {"ZZZZ;\r\n", 1}, {"TEND,N99999;", 1}};
  for (const auto& [text, result] : cases) {
    Write("XON.txt", "old\r\n");
    EXPECT_EQ(ConvertCommandFile(Write("SR_DATI.001", text), lines_, env_), result) << text;
    EXPECT_FALSE(XonExists()) << text;
  }
  EXPECT_TRUE(std::filesystem::exists(dir_.File("SR_DATI.001")));

  env_.dataDir.clear();  // no data folder: no XON.txt at all
  EXPECT_EQ(ConvertCommandFile(Write("SR_DATI.001", "SALE,N1,P100;"), lines_, env_), 0);
  EXPECT_FALSE(XonExists());
}

TEST_F(ConvertCommandFileTest, RefusesMissingAndOversizedFiles) {
  const std::string missing = dir_.File("SR_DATI.002");
  EXPECT_EQ(ConvertCommandFile(missing, lines_, env_), 1);
  EXPECT_EQ(ConvertCommandFile(dir_.path(), lines_, env_), 1);
  const std::string big = Write("SR_DATI.003", "");
  std::filesystem::resize_file(big, kMaxCommandFileSize + 1);
  EXPECT_EQ(ConvertCommandFile(big, lines_, env_), 1);
  EXPECT_THAT(notifier_.messages,
              ElementsAre("Il file " + missing + " non esiste", "Il file " + dir_.path() + " non esiste",
                          "Il file " + big + " supera i 16 MB"));
}

TEST_F(ConvertCommandFileTest, RefusesWhenXonCannotBeWritten) {
  std::filesystem::create_directories(dir_.File("XON.txt") + "/busy");
  EXPECT_EQ(ConvertCommandFile(Write("SR_DATI.001", "SALE,N1,P100;"), lines_, env_), 1);
  ASSERT_EQ(notifier_.messages.size(), 1u);
  EXPECT_THAT(notifier_.messages[0], ::testing::StartsWith("Impossibile scrivere il file "));
}

}  // namespace
}  // namespace kolibra
