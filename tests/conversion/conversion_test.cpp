// Conversion: numbers, record text, handlers, line converter, command files and XON.txt, the convert command.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "conversion/code_checks.h"
#include "conversion/conversion_state.h"
#include "conversion/convert.h"
#include "conversion/convert_cli.h"
#include "conversion/line_converter.h"
#include "conversion/normalizer.h"
#include "conversion/numbers.h"
#include "conversion/record_handlers.h"
#include "conversion/utf8_text.h"
#include "fakes/fake_platform.h"

namespace kolibra {
namespace {

using ::testing::ElementsAre;
using Lines = std::vector<std::string>;

ConversionSettings Family(const std::string& code, bool rt = false) {
  return {.rt = rt, .rtSerial = "99ZTA123456", .tenderFamily = code};
}

// The callers' forms: polling interval, settings item, baud box, address part, ECR reply field, discount.
constexpr NumberForm kInterval{" \t", false, true, ""};
constexpr NumberForm kItem{" \t", true, true, ""};
constexpr NumberForm kBaud{" ", false, false, ""};
constexpr NumberForm kAddress{" ", true, false, "Ee"};
constexpr NumberForm kReply{" ", true, true, ""};
constexpr NumberForm kPlain{"", false, true, ""};
constexpr const NumberForm& kFile = kCommandFileNumber;

TEST(Numbers, ReadFormatAndRound) {
  // LeadingNumberText gives `leading`, IsNumberText `whole`, LeadingNumber `value`.
  const struct { const NumberForm& form; std::string text, leading; bool whole; double value; } cases[] = {
      {kFile, "", "", false, 0}, {kFile, " \t ", "", false, 0}, {kFile, "-", "", false, 0}, {kFile, "-.", "", false, 0},
      {kPlain, ".", "", false, 0}, {kFile, "\t 12 \t", "12", true, 12}, {kReply, "\t12", "", false, 0},
      {kBaud, " 9600\t", "9600", false, 9600}, {kPlain, " 5", "", false, 0}, {kItem, "1 2", "1", false, 1},
      {kFile, "+5", "+5", true, 5}, {kItem, "- 5", "", false, 0}, {kInterval, "-5", "", false, 0},
      {kReply, " -0012 ", "-0012", true, -12}, {kFile, "-.5", "-.5", true, -0.5}, {kPlain, "5.", "5.", true, 5},
      {kInterval, "1.5.2", "1.5", false, 1.5}, {kFile, "1,5", "1", false, 1}, {kAddress, "1.5", "1", false, 1},
      {kInterval, "2.5ms", "2.5", false, 2.5},
      {kFile, "1d-2", "1d-2", true, 0.01}, {kFile, "1E", "1", false, 1}, {kFile, "2e+", "2", false, 2},
      {kAddress, "25e1", "25e1", true, 250}, {kAddress, "1D2", "1", false, 1}, {kReply, "1e2", "1", false, 1},
      {kInterval, "1" + std::string(400, '0'), "1" + std::string(400, '0'), true, DBL_MAX},
      {kInterval, "0." + std::string(400, '0') + "1", "0." + std::string(400, '0') + "1", true, 0},
      {kReply, "-" + std::string(400, '9'), "-" + std::string(400, '9'), true, -DBL_MAX},
      {kAddress, "1e-999", "1e-999", true, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LeadingNumberText(c.text, c.form), c.leading) << c.text;
    EXPECT_EQ(IsNumberText(c.text, c.form), c.whole) << c.text;
    std::string written = "old";
    EXPECT_DOUBLE_EQ(LeadingNumber(c.text, c.form, &written), c.value) << c.text;
    EXPECT_EQ(written, c.leading) << c.text;
    EXPECT_EQ(ParseNumber(c.text, c.form), c.whole ? std::optional<double>(c.value) : std::nullopt) << c.text;
  }

  // A digit-by-digit sum would give 0.30000000000000004.
  EXPECT_EQ(NumberValue("0.3"), 0.3);
  EXPECT_EQ(NumberValue("+.1e1"), 1.0);
  bool outOfRange = false;
  EXPECT_EQ(NumberValue("-1e400", &outOfRange), -DBL_MAX);
  EXPECT_TRUE(outOfRange);
  EXPECT_EQ(NumberValue("5", &outOfRange), 5);
  EXPECT_FALSE(outOfRange);

  const struct { const char *in, *out; } forms[] = {
      {"10.50", "10.5"}, {"abc", "0"}, {".5", "0.5"}, {"1,25", "1.25"}, {"000.000", "0"},
      {"1234567890123456", "1234567890123460"}, {"99999999999999999", "100000000000000000"},
  };
  for (const auto& c : forms) EXPECT_EQ(NumberNormalForm(c.in), c.out) << c.in;

  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(FormatNumber(0.1 + 0.2), "0.3");
  EXPECT_EQ(NumericValue("1E999").failure().description, "Overflow");
  EXPECT_FALSE(NumericValue("0." + std::string(400, '0') + "1").ok());
  EXPECT_EQ(NumericValue("1E-999").value(), 0);
  EXPECT_DOUBLE_EQ(NumericValue(" 1d-2x").value(), 0.01);
  EXPECT_TRUE(IsNumeric(" -.5 ") && !IsNumeric("1.2.3"));
  EXPECT_EQ(NumericValue("1" + std::string(400, '0') + "e-5").value(), 0);
  EXPECT_FALSE(ToInt16Checked(32767.5).ok());  // rounds to 32768
  EXPECT_EQ(ToInt16Checked(-32768.4).value(), -32768);

  const struct { std::string text; std::size_t maxDigits; std::optional<int64_t> value; } bounded[] = {
      {"", 9, std::nullopt}, {"1", 9, 1}, {"65535", 9, 65535}, {"65536", 9, std::nullopt}, {"0", 9, std::nullopt},
      {"000000001", 9, 1}, {"0000000001", 9, std::nullopt}, {"0000000001", 10, 1}, {"+1", 9, std::nullopt},
      {" 1", 9, std::nullopt}, {"1.0", 9, std::nullopt}, {std::string(40, '9'), 40, std::nullopt},
  };
  for (const auto& c : bounded) EXPECT_EQ(ParseBoundedInt(c.text, 1, 65535, c.maxDigits), c.value) << c.text;
  const struct { double value; const char *number, *decimal; } formats[] = {
      {0, "0", "0"}, {2.5, "2.5", "2.5"}, {0.25, "0.25", "0.25"}, {-3, "-3", "-3"}, {1e15, "1E+15", "1000000000000000"},
      {1.0 / 3, "0.333333333333333", "0.3333333333333333"},
  };
  for (const auto& c : formats) {
    EXPECT_EQ(FormatNumber(c.value), c.number) << c.value;
    EXPECT_EQ(FormatDecimal(c.value), c.decimal) << c.value;
  }
}

TEST(RecordText, CleanUpFieldsSignsAndCheckCharacters) {
  const std::pair<std::string, std::string> cleanUp[] = {
      {"sale,n01,p1000,q1.5,:Totale pane;", "SALE,N1,P1000,Q1.500,:TOT.   PANE;"},
      {"PRNT,:Pane, burro;", "PRNT,:PANE,B1;"},  // a comma inside a text splits it
      {"PLUD,C0012345ABC,Q2;", "PLUD,C0012345ABC,Q2;"}, {"NDCR,>ab.c,N0012;", "NDCR,>AB.C,N0012;"},
      {"MOST,%10.5;", "MOST,%10.50;"}, {"SALE,Q.5;", "SALE,Q0.500;"},
      // Digit clean-up: keys without digits get 1, except R and S.
      {"SALE,N,R,S,P;", "SALE,N1,R,S,P1;"}, {"TEND,N 2 ,V1.000,00;", "TEND,N2,V1,00;"},
      // Numbers in normal form only where keyword and key ask for it.
      {"TEND,N004,V0100;", "TEND,N4,V100;"}, {"CLER,N007;", "CLER,N007;"},
      {"SALE,P12345678901234567890;", "SALE,P12345678901234600000;"},
      // Empty fields vanish with their comma; a trailing one leaves a comma.
      {"SALE,N1,", "SALE,N1,;"}, {"SALE,   ,N1", "SALE,1,N1;"}, {"prntx,:a", "PRNT,:A;"},
      {"PRNT,:", "PRNT,: ;"}, {"PRNT,N1:abc;", "PRNT,:ABC;"},
      {"PRNT,:" + std::string(40, 'a'), "PRNT,:" + std::string(30, 'A') + ";"},
      {"PRNT,:" + std::string(29, 'x') + "\xe4", "PRNT,:" + std::string(29, 'X') + "A;"}, {"PRNT,:a;b", "PRNT,:A;B"},
      {std::string("PRNT,:a\0b", 9), std::string("PRNT,:A\0B;", 10)},
      {"PRNT,:a\xe4" "b", "PRNT,:AAEB;"},  // upper-cased to \xc4, which gives AE
      {"PRNT,:pane & latte\t\x80", "PRNT,:PANE e LATTEE;"}, {"PRNT,:\xe0\xe8\xe9\xec\xf2\xf9", "PRNT,:AEEIOU;"},
      {"PRNT,:\x82\x85\x87\x88\x8a\x8d\x95\x97\x9c", "PRNT,:eaceeiouL;"},
      {"PRNT,:\xf5\xf8", "PRNT,:\xd5\xd8;"},  // no longer in the table once upper-cased
  };
  for (const auto& [in, out] : cleanUp) EXPECT_EQ(NormalizeRecordLine(in, 30), out) << in;
  EXPECT_EQ(NormalizeRecordLine("PRNT,:abcdef", -5), "PRNT,: ;");
  // A megabyte of digits in linear space.
  const std::string out = NormalizeRecordLine("SALE,P" + std::string(1 << 20, '7'), 30);
  ASSERT_EQ(out.size(), std::size_t{6 + (1 << 20) + 1});
  EXPECT_EQ(out.substr(0, 21), "SALE,P777777777777778");
  EXPECT_EQ(out.find_first_not_of('0', 21), out.size() - 1);

  const struct { const char* line; bool negative; } signs[] = {
      {"tend,n1,v -0.01;", true},  {"TEND,V\t-\t5;", true},  {"TEND,V1,V-1;", true},  // any field with the key
      {"TEND,V-0.00,V-x,V1-2;", false},  // zero, no number, minus not in front
      {"TEND,N-1,:V-5;", false},  {"TEND,N1:V-5;", false},  // other key; texts
      {"V-5;", false},                                      // the keyword is no field
  };
  for (const auto& c : signs) EXPECT_EQ(HasNegativeField(c.line, "VQ"), c.negative) << c.line;
  // value "old": left unchanged
  const struct { bool atStart; const char *line, *key; bool found; const char* value; } cases[] = {
      {false, "sale,n1,p1000;", ",P", true, "1000"}, {false, "SALE,N1,N2;", ",N", true, "1"},  // any case; first wins
      {false, "SALE,N1,:AB", ",:", true, "AB"}, {true, " SALE,N1;", "SALE", false, "old"},  // up to the line's end
      {true, "XSALE,SALE", "SALE", false, "old"},     // first occurrence not at column 1
      {true, "DISP,:Ciao,N1;", "DISP", true, "Ciao"},  // DISP, PRNT, CLER: from column 7
      {false, "SALE,S2,P1;", ",S", true, "S2"}, {false, "SALE,S1;", ",S1", true, ""},  // ,S and ,R keep their letter
      {false, "SALE,:abc,sx;", ",S", true, "sx"},     // a key matches inside a text
  };
  for (const auto& c : cases) {
    std::string value = "old";
    EXPECT_EQ(GetField(c.atStart, value, c.line, c.key), c.found) << c.line << " " << c.key;
    EXPECT_EQ(value, c.value) << c.line << " " << c.key;
  }
  const struct { bool (*check)(std::string_view); const char* text; bool ok; } codes[] = {
      {CheckCodiceFiscale, "RSSMRA85T10A562S", true}, {CheckCodiceFiscale, "rssmra85t10a562s", true},  // any case
      {CheckCodiceFiscale, "RSSMRA85T10A562T", false},  // wrong check letter
      // Weights at odd/even positions: "A" and "0" 1/0, 8 -> "I"; "Z" 23/25, 359 % 26 = 21 -> "V".
      {CheckCodiceFiscale, "000000000000000I", true},
      {CheckCodiceFiscale, "ZZZZZZZZZZZZZZZV", true}, {CheckPartitaIva, "01234567897", true},
      {CheckPartitaIva, "01234567890", false}, {CheckPartitaIva, "", false},
      {CheckPartitaIva, "01234567897   ", true},  // trailing blanks removed
      {CheckPartitaIva, "99999999990", true},  // doubled 9 counts 1 + 8
  };
  for (const auto& c : codes) EXPECT_EQ(c.check(c.text), c.ok) << c.text;
}

using Handler = Checked<HandlerResult> (*)(ConversionState&, const std::string&);

// Any handler as one that returns its result or its failure.
template <auto F>
Checked<HandlerResult> Done(ConversionState& state, const std::string& line) {
  using R = decltype(F(state, line));
  if constexpr (std::is_void_v<R>) {
    F(state, line);
  } else if constexpr (std::is_same_v<R, StepFailure>) {
    if (const StepFailure f = F(state, line)) return *f;
  } else {
    return F(state, line);
  }
  return HandlerResult::kDone;
}

#define VAT "01234567897"  // a VAT number with a correct check digit

int32_t NeverEndsWithNul(const char*, int32_t, char* output, char*) {
  std::memset(output, 'Z', kLineConverterOutputSize);
  return 0;
}

enum Flag { kFirstItem = 1, kDocumentOpen = 2, kPercent = 4, kInvoice = 8, kCodeEmitted = 16, kPag4 = 32 };

TEST(SingleRecords, HandlersBuildLinesAndTheLineConverterKeepsItsCallShape) {
  // result: the line's, "dropped" or "refused"; output: lines appended at once; suffix: the last tender's.
  struct Case { Handler handler; std::string line, result; Lines output = {}; int flags = 0, paymentsIndex = 0;
    std::string family = "ZT", suffix = "";
  } const cases[] = {
      {Done<HandleSale>, "SALE,N1,P1000,Q3,:PANE;", "\"PANE\"3*1000H1R"},
      {Done<HandleSale>, "SALE,N1,P0.125;", "1*12H1R", {"\"  1 X 0.125\"@"}},  // half cents to even: 12.5 -> 12
      // A PLUD's early sale line gets the placeholder treatment too, or "|9m" would reach the ECR.
      {Done<HandleSale>, "PLUD,N1,P1.5,R;", "\" ^---**  1 X 1.5\"@", {"9M1*150H1R"}, kFirstItem},
      {Done<HandleSale>, "PLUD,N1,P1.5,S1,R;", "\" ^---**  1 X 1.5\"@", {"17M*9M1*150H1R"}, kFirstItem | kPercent},
      {Done<HandleSale>, "SALE,N3,P500,S3;", "500H13M"}, {Done<HandleSale>, "SALE,N1,P100,R;", "|9m100H1R"},
      {Done<HandleSale>, "SALE,N1,P100,R;", "100H1R", {}, kDocumentOpen},  // inside a referenced document
      {Done<HandleSale>, "SALE,N1,P100,:A\"B\";", "\"A'B'\"100H1R"}, {Done<HandleSale>, "SALE,N5,:X;", "\"X\"5R"},
      {Done<HandleSale>, "SALE,N1,P100,:\x01" "A\x02\x03\x11\x13\x1f\x7f\x80\xe8\xff;", "\" A      \x80\xe8\xff\"100H1R"},
      {Done<HandleTend>, "TEND,N9;", "5T"}, {Done<HandleTend>, "TEND,N12;", "10T", {}, 0, 2},
      {Done<HandleTend>, "TEND,N2.5;", "2T"}, {Done<HandleTend>, "TEND,N4,V1000;", "1000H3T", {}, kPag4},
      {Done<HandleTend>, "TEND,N3.5;", "2T", {}, kPag4, 2, "OT"},  // rounded to 4, then Bancomat
      {Done<HandleTend>, "TEND,N4;", "4T", {}, 0, 0, "OT", "5T"}, {Done<HandleTend>, "TEND,N1,Q2;", "1T"},  // Q needs V
      // Numbers out of range stop the conversion.
      {Done<HandleTend>, "TEND,N40000;", "Overflow"}, {Done<HandleSale>, "SALE,N1,P1.5E999;", "Overflow"},
      {Done<HandleBanc>, "BANC,V100;", "100H3T"}, {Done<HandleCardCheq>, "CARD,V1500;", "1500H3T"},
      {Done<HandleTick>, "TICK,:BUONO,Q2,V800;", "\"BUONO\"2*800H6T", {}, 0, 0, ""},
      {Done<HandleTend>, "TEND,N1,:A\x13" "B,V5;", "\"A B\"5H1T"}, {Done<HandleCred>, "CRED,T5,V900;", "900H4T"},
      {Done<HandleOpfs>, "OPFS,N7,:Cliente Uno,<Via Nuova 1,=Milano,>IT01234567890;", "",
       {"\"0007\"@", "99F", "\"Cliente Uno\"@", "\"Via Nuova 1\"@", "\"Milano\"@", "\"IT01234567890\"@", "937F"}},
      // An invoice heading skips the normalizer: its control bytes too become blanks.
      {Done<HandleOpfs>, "OPFS,:Uno\x02,<Via\tNuova;", "", {"99F", "\"Uno \"@", "\"Via Nuova\"@", "937F"}},
      // Extra text lines: invoice lines in invoice mode, else only a customer code.
      {Done<HandleExtl>, "EXTL,:123456789012345678901234567890;", "", {"\"123456789012345678901234\"@"}, kInvoice},
      {Done<HandleExtl>, "EXTL,:" VAT ";", "", {"\"" VAT "\"@", "39F"}},
      {Done<HandleExtl>, "EXTL,:" VAT ";", "", {}, kCodeEmitted}, {Done<HandleSurcharge>, "ADDS,V250;", "=250H8M"},
      {Done<HandlePrnt>, "PRNT,:01234567890;", "\"01234567890\"@"}, {Done<HandlePrnt>, "PRNT,:" VAT ";", "dropped"},
      {Done<HandleDisp>, "DISP,N5,:CIAO;", "\"CIAO\"2%"}, {Done<HandleDisp>, "DISP,N1,:CI\x11" "AO;", "\"CI AO\"1%"},
      {Done<HandleBarc>, "BARC,T1,:12\x13" "3;", "\"12 3\"1B"}, {Done<HandleBarc>, "BARC,T3,:123;", "\"123\"3B"},
      {Done<HandleBarc>, "BARC,T1,H,:123;", "\"123\"5B"}, {Done<HandleBarc>, "BARC,T4,:123;", ""},
      // Document references (RT serial 99ZTA123456); a dated one stays open.
      {HandleNdcr, "NDCR,>VR,D01022024;", "99F\"0\"@\"0\"@\"01022024\"@\"VR\"@931F"},
      {HandleDeld, "DELD,>ABC,D01022024;", "99F\"0\"@\"0\"@\"01022024\"@\"POS\"@930F"},
      {HandleNdcr, "NDCR,>99ZTA123456,N00120034,D01022024;", "99F\"12\"@\"34\"@\"01022024\"@\"1\"@931F"},
      {HandleDeld, "DELD,>99ZTA123456,N00120034,D01022024;", "99F\"12\"@\"34\"@\"01022024\"@\"0\"@930F"},
      {HandleNdcr, "NDCR,>88ZTB654321,N10000000,D01022024;", "99F\"1000\"@\"0\"@\"01022024\"@\"88ZTB654321\"@931F"},
      {HandleNdcr, "NDCR,>99ZTA123456,N00120034;", "99F\"12\"@\"34\"@"},
      {HandleNdcr, "NDCR,>ABC,N12345678,D01022024;", "refused"},
      {HandleNdcr, "NDCR,>99ZTA123456,N1234567,D01022024;", "refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line + " " + c.family + " " + std::to_string(c.flags));
    ConversionSettings settings = Family(c.family, true);
    settings.paymentsIndex = c.paymentsIndex;
    settings.pag4Bancomat = c.flags & kPag4;
    ConversionState state(settings);
    state.firstItemPending = c.flags & kFirstItem;
    state.documentReferenceOpen = c.flags & kDocumentOpen;
    state.percent = c.flags & kPercent;
    state.invoiceMode = c.flags & kInvoice;
    state.customerCodeEmitted = c.flags & kCodeEmitted;
    const Checked<HandlerResult> checked = c.handler(state, c.line);
    const HandlerResult r = checked.value();
    EXPECT_EQ(!checked.ok() ? checked.failure().description
              : r == HandlerResult::kRefuse ? "refused" : r == HandlerResult::kDropLine ? "dropped" : state.lineResult,
              c.result);
    EXPECT_EQ(state.output, c.output);
    EXPECT_EQ(state.lastTenderSuffix, c.suffix);
    EXPECT_FALSE(state.firstItemPending);
    EXPECT_EQ(state.invoiceMode, (c.flags & kInvoice) || c.handler == Done<HandleOpfs>);
    const bool dated = c.result.size() > 4 && c.result.compare(c.result.size() - 4, 2, "93") == 0;
    EXPECT_EQ(state.documentReferenceOpen, dated || (c.flags & kDocumentOpen));
    if (c.handler == Done<HandleExtl>) {
      EXPECT_EQ(state.customerCodeEmitted, (c.flags & kCodeEmitted) || c.output.size() == 2);
    }
  }

  // The line converter's call shape: NUL-ended output, no negative length, a replacement's output read up
  // to the buffer's size.
  const std::pair<std::string, std::string> records[] = {
      {"FUNC,N007;", "7F"}, {"FUNC,N39;", "ERRO C211"}, {"FUNC,N1.5;", "ERRO C003"}, {"DISC,%10.50;", "10.50|3M"},
      {"MAGG,V100;", "100|8M"}, {"DISC,Vabc;", "ERRO C002"}, {"TEND,V100;", "ERRO C004"}, {"XXXX;", "ERRO C001"},
      {"FUNC,N" + std::string(70, '1') + ";", "ERRO C064"}, {std::string("SALE,N1,P5\0;", 12), "ERRO C005"},
  };
  for (const auto& [in, out] : records) EXPECT_EQ(CallLineConverter(in), out) << in;
  char output[kLineConverterOutputSize];
  char error[kLineConverterErrorSize];
  std::memset(output, ' ', sizeof output);
  std::memset(error, ' ', sizeof error);
  const char record[] = "SALE,N1,P1000;";
  ConvertSlToXt(record, static_cast<int32_t>(std::strlen(record)), output, error);
  EXPECT_STREQ(output, "1000H1R");
  ConvertSlToXt(record, -5, output, error);
  EXPECT_STREQ(output, "ERRO C211");
  EXPECT_STREQ(error, "C211");

  SetLineConverter(&NeverEndsWithNul);
  EXPECT_EQ(CallLineConverter("CLER;"), std::string(kLineConverterOutputSize, 'Z'));
  SetLineConverter(nullptr);
  EXPECT_EQ(CallLineConverter("CLER;"), "K");
}

struct Outcome { int16_t result = -1, count = 0; Lines lines, messages; std::string refusal; };

Outcome ConvertText(std::string_view text, const ConversionSettings& settings = Family("ZT")) {
  fakes::FakeNotifier notifier;
  ConversionEnv env;
  env.settings = settings;
  env.notifier = &notifier;
  env.tenderLineCount = 99;
  Lines lines;
  const int16_t result = ConvertCommandText(text, lines, env);
  return {result, env.tenderLineCount, lines, notifier.messages, env.refusal};
}

// Each row: the command file, the lines it gives in order, the payment lines counted. A UTF-8
// file converts as the Windows-1252 text it stands for; an 8-bit one (not valid UTF-8) as it is.
TEST(ConvertCommandText, ConvertsRecordsInOrderAndUtf8AsCodePageText) {
  std::string wide;  // the width counts code-page characters
  for (int i = 0; i < 29; ++i) wide += "\xc3\xa8";
  const struct { std::string text; Lines lines; int count; ConversionSettings settings = Family("ZT"); } cases[] = {
      // Decimal-price comment first, TEND,N4 moved last.
      {"SALE,N1,P1000,:Pane;\r\nSALE,N2,P2.50,Q2,:Latte;\r\nTEND,N4,V500;\r\nTEND,N1,V1500;\r\n",
       {"\"PANE\"1000H1R", "\"  2 X 2.5\"@", "\"LATTE\"1*500H2R", "1500H1T", "500H4T"}, 2},
      // The first item from a PLUD: its comment follows.
      {"PLUD,N1,P1.99;\r\nSALE,N2,P0.5;\r\nTEND,N1;", {"1*199H1R", "\" ^---**  1 X 1.99\"@", "\"  1 X 0.5\"@", "1*50H2R", "1T"}, 1},
      {"SALE,N1,P100,R;\r\nSALE,N1,P200,S,:Sconto;\r\nSALE,N1,P300,S1,R;", {"9M100H1R", "0M\"SCONTO\"200H1R", "17MH9M300H1R"}, 0},
      {"TEND,N4,V100;\r\nTEND,N4,V200;\r\nTEND,N1,V300;", {"300H1T", "100H4T", "200H4T"}, 3},  // suffix lines last
      {"TEND,N4;\r\nTEND,N1,V500;", {"4T", "500H1T"}, 2, Family("OT")},  // another family: suffix 5T
      // FUNC,N39 before any candidate does not take a later one.
      {"FUNC,N39;\r\nPRNT,:RSSMRA85T10A562S;\r\nSALE,N1,P1;\r\n", {"1H1R"}, 0},
      // A fiscal code in a printed line becomes the customer code, credit function ahead of it.
      {"PRNT,:RSSMRA80A01H501U;\r\nSALE,N1,P1000;\r\nFUNC,N39;\r\nCRED,T3,V900;",
       {"938F", "\"RSSMRA80A01H501U\"@39F", "1000H1R", "900H3T"}, 1, Family("AT")},
      {"LOTT,C[AB\"D1234];\r\nSALE,N1,P1;", {"\"AB'D1234\"@39F", "1H1R"}, 0},  // a quote cannot end the text
      // Control bytes in texts reach the ECR as blanks, tabs are still removed.
      {"LOTT,C[AB\x03" "D1234];\r\nSALE,N1,P1,:Pa\x02n\te\x13;\r\nPRNT,:a\x11\x84;\r\nCASH,:c\x7f" "d,V1;",
       {"\"AB D1234\"@39F", "\"PA NE \"1H1R", "\"A \x84\"@", "\"C D\"1H1T"}, 1},
      // A line that skips the normalizer carries no control byte in its numbers either.
      {"SALE,N1\x02,P100,:OPFS\x03;\r\nTEND,N1,V5\x11,:OPFS;", {"\"OPFS \"100H1 R", "\"OPFS\"5 H1T"}, 1},
      // Invoice heading; OPNF and CLNF produce nothing in invoice mode.
      {"OPFS,N7,:Cliente Uno;\r\nEXTL,:Consegna;\r\nOPNF;\r\nCLNF;\r\nSALE,N1,P100;",
       {"\"0007\"@", "99F", "\"Cliente Uno\"@", "937F", "\"CONSEGNA\"@", "100H1R"}, 0},
      // A cheque mentioned in a text is not a payment.
      {"SALE,N1,P100,:Buono cheque;\r\nPRNT,:Pagato con cheque;\r\nCHEQ,V100;\r\n",
       {"\"BUONO CHEQUE\"100H1R", "\"PAGATO CON CHEQUE\"@", "100H3T"}, 1},
      // A minus is kept in texts and dropped from department and tender numbers and zeros.
      {"SALE,N-1,P100,:Pane -1, V-5;\r\nPRNT,:Resto, Q-1;\r\nTEND,N-1,V-0;", {"\"PANE -1\"100H1R", "\"RESTO\"@", "0H1T"}, 1},
      {"\r\n   \r\n;\r\nDATE,:01/01/2024;\r\nCLFS;\r\nLOTT,C1;\r\nSALE,N1,P100;\rTEND,N1;", {"100H1R", "1T"}, 1},
      // UTF-8: an accented letter is one character; byte-order mark dropped; beyond Latin-1.
      {"SALE,N1,P100,:Caff\xc3\xa8 gi\xc3\xb9;", {"\"CAFFE GIU\"100H1R"}, 0},
      {"\xef\xbb\xbfSALE,N1,P100;\r\nTEND,N1;", {"100H1R", "1T"}, 1},
      {"PRNT,:L\xe2\x80\x99\xe2\x82\xac \xc3\xbc \xc3\x9f;", {"\"L\x92" "E UE \xdf\"@"}, 0},
      // Letters outside the code page: plain letter, else ?; decomposed letters.
      {"PRNT,:M\xc4\x81ria \xc5\x81\xc3\xb3" "d\xc5\xba \xc8\x99 \xf0\x9f\x98\x80 \xc2\x85;",
       {"\"MARIA LODZ ? ? ?\"@"}, 0},
      {"PRNT,:e\xcc\x80 a\xcc\x88 n\xcc\x8c \xcc\x81x;", {"\"E AE N X\"@"}, 0},
      {"PRNT,:" + wide + "ab;", {"\"" + std::string(29, 'E') + "A\"@"}, 0},
      {"OPFS,N7,:Citt\xc3\xa0;", {"\"0007\"@", "99F", "\"Citt\xe0\"@", "937F"}, 0},  // skips the normalizer
      {"PRNT,:\xc3\xa8\xe8;", {"\"E\xa8" "E\"@"}, 0},  // 8-bit file with UTF-8-like bytes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Outcome r = ConvertText(c.text, c.settings);
    EXPECT_EQ(r.result, 0);
    EXPECT_THAT(r.lines, ::testing::ElementsAreArray(c.lines));
    EXPECT_EQ(r.count, c.count);
    EXPECT_THAT(r.messages, ElementsAre());
  }
  // Not UTF-8 (overlong, surrogate, beyond U+10FFFF, cut short), or ASCII only: left as it is.
  for (const char* t : {"\xc3\xa8\xc0\xaf", "\xc3\xa8\xed\xa0\x80", "\xc3\xa8\xf4\x90\x80\x80",
                        "\xc3\xa8\xe2\x82", "SALE,N1;"}) {
    EXPECT_EQ(Utf8ToCp1252(t), std::nullopt) << t;
  }
  EXPECT_EQ(Utf8ToCp1252("\xef\xbb\xbf"), "");
}

// Refusals (an ERRO line, a bad document reference, unreadable bytes, overflows) and hostile input.
TEST(ConvertCommandText, RefusesOrSurvivesHostileInput) {
  const struct { std::string text; bool rt; int overflowLine; } cases[] = {  // line 0: refused without a message
      {"XYZW;", false, 0}, {"NDCR,>A;", true, 0}, {"DELD,D01022024;", true, 0}, {"\x01\x02\xff\xfe", false, 0},
      // Numbers too large for their field refuse instead of wrapping.
      {"SALE,N1,P1;\r\nTEND,N99999;", false, 2}, {"SALE,N1,P99999999.99,Q1000;", false, 1}, {"CRED,T40000;", false, 1},
      {"TEND,N32767.5;", false, 1}, {"DISP,N99999,:CIAO;", false, 1}, {"BARC,T99999,:123;", false, 1},
      // Amounts, prices, quantities and percentages have no sign.
      {"SALE,N1,P1;\r\nSALE,N-1,P-1000,Q-3;", false, 0}, {"PLUD,N1,P1,Q -0.5;", false, 0},
      {"SALE,N1,P-2.5,Q-2,:OPFS;", false, 0},  // skips the normalizer; -2.5 x -2 is positive
      {"TEND,N1,V-500;", false, 0}, {"TICK,Q-2,V800;", false, 0}, {"BANC,V- 1;", false, 0}, {"CARD,V-.5;", false, 0},
      {"CHEQ,V-100;", false, 0}, {"CRED,T1,V-900;", false, 0}, {"CASH,V-100;", false, 0}, {"ADDS,V-250;", false, 0},
      {"DISC,%-10;", false, 0}, {"MOST,V-100;", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Outcome r = ConvertText(c.text, Family("ZT", c.rt));
    EXPECT_EQ(r.result, 1);
    const std::string overflow = "Errore Conv = Overflow - 6 Line : " + std::to_string(c.overflowLine);
    EXPECT_EQ(r.messages, c.overflowLine ? Lines{overflow} : Lines{});
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
  Outcome r = ConvertText(many);
  EXPECT_EQ(r.result, 1);
  EXPECT_THAT(r.messages, ElementsAre("Errore Conv = Overflow - 6 Line : 32768"));
  EXPECT_EQ(r.count, 32767);

  r = ConvertText("PRNT,:" + std::string(1 << 20, 'x') + "\r\nSALE,N1,P1;");
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
  EXPECT_THAT(r.messages, ElementsAre(::testing::HasSubstr("troppe righe")));
}

// The convert command; XON.txt only for a converted file; missing, oversized and unwritable files
// refused with a message.
TEST(ConvertCommandFile, CommandAndXonFile) {
  fakes::ScratchDir dir;
  fakes::FakeNotifier notifier;
  fakes::FakeFileSystem fs;
  ConversionEnv env;
  env.settings = Family("ZT");
  env.dataDir = dir.path();
  env.fs = &fs;
  env.notifier = &notifier;
  Lines lines;
  const auto write = [&dir](const std::string& bytes, const std::string& name = "SR_DATI.001") {
    fakes::WriteFileBytes(dir.File(name), bytes);
    return dir.File(name);
  };
  std::ostringstream out, err;
  const auto run = [&](const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return RunConvertCommand(args, out, err);
  };
  const std::string receipt = write("SALE,N1,P1000;\r\nTEND,N4,V500;\r\nTEND,N1,V500;\r\n");
  // A refusal prints nothing and gives the reason (err holds it); XON.txt only when asked.
  const struct { std::vector<std::string> args; int code; std::string out, err = ""; } cases[] = {
      {{receipt}, 0, "1000H1R\r\n500H4T\r\n500H1T\r\n"},
      // The tender family comes from characters 4 and 5 of the RT serial.
      {{"--rt-serial", "99MZT012345", receipt}, 0, "1000H1R\r\n500H1T\r\n500H4T\r\n"},
      {{"--tender-code", "ZT", "--pag4-bancomat", receipt}, 0, "1000H1R\r\n500H3T\r\n500H1T\r\n"}, {{}, 2, ""},
      {{"--bogus", receipt}, 2, ""}, {{receipt, receipt}, 2, ""}, {{dir.File("missing")}, 2, ""},
      {{write("SALE,N1,P1000;\r\nTEND,N99999;\r\n", "A")}, 1, "", "Errore Conv = Overflow - 6 Line : 2"},
      {{write("SALE,N1,P1000;\r\nQQQQ,N1;\r\n", "B")}, 1, "", "riga 2 non convertibile: QQQQ,N1;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(run(c.args), c.code);
    EXPECT_EQ(out.str(), c.out);
    EXPECT_EQ(err.str().empty(), c.code == 0);
    EXPECT_TRUE(c.code != 2 || err.str().starts_with("kolibra convert: ")) << err.str();
    EXPECT_THAT(err.str(), ::testing::HasSubstr(c.err));
  }
  EXPECT_EQ(run({"--help"}), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("XON.txt")));
  EXPECT_EQ(run({"--xon-dir", dir.path(), write("SALE,N1,P1000;")}), 0);
  EXPECT_EQ(fakes::ReadFileBytes(dir.File("XON.txt")), "1000H1R\r\n");
  EXPECT_EQ(out.str(), "1000H1R\r\n");

  Lines trace;
  env.trace = [&trace](const std::string& line) { trace.push_back(line); };
  write("stale contents that are longer than the new ones\r\n", "XON.txt");
  ASSERT_EQ(ConvertCommandFile(write("SALE,N1,P100,:Pane \xe8;\r\nTEND,N1;"), lines, env), 0);
  EXPECT_EQ(fakes::ReadFileBytes(dir.File("XON.txt")), "\"PANE E\"100H1R\r\n1T\r\n");
  EXPECT_THAT(lines, ElementsAre("\"PANE E\"100H1R", "1T"));
  EXPECT_THAT(trace, ElementsAre(" ------------ File SR_Dati ------------ ", " - SALE,N1,P100,:Pane \xe8;",
                                 " - TEND,N1;", " -------------------------------------- "));
#ifndef _WIN32
  // A link under XON.txt when it is written (planted after the early deletion, here a failed one) is replaced.
  const std::string precious = write("precious", "precious");
  std::filesystem::remove(dir.File("XON.txt"));
  std::filesystem::create_symlink(precious, dir.File("XON.txt"));
  fs.FailRemove(dir.File("XON.txt"), 1);
  ASSERT_EQ(ConvertCommandFile(write("SALE,N1,P100;"), lines, env), 0);
  EXPECT_EQ(fakes::ReadFileBytes(precious), "precious");
  EXPECT_EQ(fakes::ReadFileBytes(dir.File("XON.txt")), "100H1R\r\n");
#endif

  // Refused, empty, or the disk full while XON.txt is written: no XON.txt, no part of one left.
  const struct { const char* text; int result; bool fullDisk = false; } refusals[] = {
      {"", 0}, {"ZZZZ;\r\n", 1}, {"TEND,N99999;", 1}, {"SALE,N1,P100;", 1, true}};
  for (const auto& [text, result, fullDisk] : refusals) {
    write("old\r\n", "XON.txt");
    if (fullDisk) fs.FailFlush(1);
    EXPECT_EQ(ConvertCommandFile(write(text), lines, env), result) << text;
    EXPECT_FALSE(std::filesystem::exists(dir.File("XON.txt"))) << text;
  }
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_FALSE(e.path().filename().string().starts_with("~KB")) << e.path();
  EXPECT_TRUE(std::filesystem::exists(dir.File("SR_DATI.001")));
  notifier.messages.clear();

  const std::string missing = dir.File("SR_DATI.002");
  EXPECT_EQ(ConvertCommandFile(missing, lines, env), 1);
  const std::string big = write("", "SR_DATI.003");
  std::filesystem::resize_file(big, kMaxCommandFileSize + 1);
  EXPECT_EQ(ConvertCommandFile(big, lines, env), 1);
  std::filesystem::create_directories(dir.File("XON.txt") + "/busy");
  EXPECT_EQ(ConvertCommandFile(write("SALE,N1,P100;"), lines, env), 1);
  EXPECT_THAT(notifier.messages, ElementsAre("Il file " + missing + " non esiste", "Il file " + big + " supera i 16 MB",
                                             ::testing::StartsWith("Impossibile scrivere il file ")));
}

}  // namespace
}  // namespace kolibra
