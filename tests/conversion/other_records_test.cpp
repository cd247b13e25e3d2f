// Invoices, printed and displayed text, barcodes and document references.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/record_handlers.h"

namespace kolibra {
namespace {

using Lines = std::vector<std::string>;

// A VAT number and a fiscal code with correct check characters.
const std::string kVat = "01234567897";
const std::string kFiscalCode = "RSSMRA80A01H501U";

TEST(OpfsTest, HeadingLines) {
  const std::pair<std::string, Lines> cases[] = {
      {"OPFS,N7,:Cliente Uno,<Via Nuova 1,=Milano,>IT01234567890;",
       {"\"0007\"@", "99F", "\"Cliente Uno\"@", "\"Via Nuova 1\"@", "\"Milano\"@", "\"IT01234567890\"@", "937F"}},
      {"OPFS,N12345,>Ultima;", {"\"12345\"@", "99F", "\"Ultima\"@", "937F"}},
      {"OPFS,N 12.5 ;", {"\"0012\"@", "99F", "937F"}},
      {"OPFS,N1A,:123456789012345678901234567890;", {"99F", "\"123456789012345678901234\"@", "937F"}},
  };
  for (const auto& [line, output] : cases) {
    ConversionSettings settings;
    ConversionState state(settings);
    HandleOpfs(state, line);
    EXPECT_EQ(state.output, output) << line;
    EXPECT_TRUE(state.invoiceMode) << line;
  }
}

TEST(ExtlTest, InvoiceLineOrCustomerCode) {
  struct Case {
    std::string text;
    bool invoiceMode;
    bool codeEmitted;
    Lines output;
  };
  const Case cases[] = {
      {"123456789012345678901234567890", true, false, {"\"123456789012345678901234\"@"}},
      {kVat, true, false, {"\"" + kVat + "\"@"}},
      {kVat, false, false, {"\"" + kVat + "\"@", "39F"}},
      {kFiscalCode, false, false, {"\"" + kFiscalCode + "\"@", "39F"}},
      {kVat, false, true, {}},
      {"01234567890", false, false, {}},
  };
  for (const Case& c : cases) {
    ConversionSettings settings;
    ConversionState state(settings);
    state.invoiceMode = c.invoiceMode;
    state.customerCodeEmitted = c.codeEmitted;
    HandleExtl(state, "EXTL,:" + c.text + ";");
    EXPECT_EQ(state.output, c.output) << c.text;
    EXPECT_EQ(state.customerCodeEmitted, c.codeEmitted || c.output.size() == 2) << c.text;
    EXPECT_TRUE(state.lineResult.empty()) << c.text;  // still goes to the line converter
  }
}

TEST(PrntTest, TextLineOrDroppedCode) {
  const std::pair<std::string, std::string> cases[] = {
      {"PRNT,:HELLO;", "\"HELLO\"@"},
      {"PRNT,:SAY \"HI\";", "\"SAY 'HI'\"@"},
      {"PRNT,:01234567890;", "\"01234567890\"@"},
      {"PRNT;", ""},
      {"PRNT,:" + kVat + ";", "dropped"},
      {"PRNT,:" + kFiscalCode + ";", "dropped"},
  };
  for (const auto& [line, result] : cases) {
    ConversionSettings settings;
    ConversionState state(settings);
    const HandlerResult r = HandlePrnt(state, line);
    EXPECT_EQ(r == HandlerResult::kDropLine ? "dropped" : state.lineResult, result) << line;
  }
}

TEST(DispAndBarcTest, Lines) {
  const std::pair<std::string, std::string> cases[] = {
      {"DISP,N5,:CIAO;", "\"CIAO\"2%"},   {"DISP,N1,:CIAO;", "\"CIAO\"1%"},
      {"DISP,N0,:CIAO;", "\"CIAO\"0%"},   {"DISP,:BENVENUTI;", "\"BENVENUTI\"1%"},
      {"BARC,T1,:800123;", "\"800123\"1B"}, {"BARC,T3,:123;", "\"123\"3B"},
      {"BARC,T1,H,:123;", "\"123\"5B"},   {"BARC,T2,H,:123;", "\"123\"4B"},
      {"BARC,T3,H1,:123;", "\"123\"6B"},  {"BARC,T4,:123;", ""},
      {"BARC,T0,H,:123;", ""},            {"BARC,T-1,:123;", ""},
      {"BARC,TX,:123;", ""},              {"BARC,T1;", ""},
  };
  for (const auto& [line, result] : cases) {
    ConversionSettings settings;
    ConversionState state(settings);
    (line[0] == 'D' ? HandleDisp : HandleBarc)(state, line);
    EXPECT_EQ(state.lineResult, result) << line;
  }
  ConversionSettings settings;
  ConversionState state(settings);
  EXPECT_THROW(HandleDisp(state, "DISP,N99999,:CIAO;"), ConversionFailure);
  EXPECT_THROW(HandleBarc(state, "BARC,T99999,:123;"), ConversionFailure);
}

TEST(ReferenceTest, CreditNoteAndAnnulment) {
  struct Case {
    std::string line;
    std::string result;  // "refused" for a refusal
    bool referenceOpen;
  };
  const Case cases[] = {
      {"NDCR,>VR,D01022024;", "99F\"0\"@\"0\"@\"01022024\"@\"VR\"@931F", true},
      {"DELD,>XY,D01022024;", "99F\"0\"@\"0\"@\"01022024\"@\"ND\"@930F", true},
      {"DELD,>ABC,D01022024;", "99F\"0\"@\"0\"@\"01022024\"@\"POS\"@930F", true},
      {"NDCR,>99ZTA123456,N00120034,D01022024;", "99F\"12\"@\"34\"@\"01022024\"@\"1\"@931F", true},
      {"DELD,>99ZTA123456,N00120034,D01022024;", "99F\"12\"@\"34\"@\"01022024\"@\"0\"@930F", true},
      {"NDCR,>88ZTB654321,N10000000,D01022024;", "99F\"1000\"@\"0\"@\"01022024\"@\"88ZTB654321\"@931F", true},
      // Without a date: what the document numbers gave, and no open reference.
      {"NDCR,>99ZTA123456,N00120034;", "99F\"12\"@\"34\"@", false},
      {"NDCR,>VR;", "", false},
      {"NDCR,>ABC,N12345678,D01022024;", "refused", false},
      {"NDCR,>99ZTA123456,N1234567,D01022024;", "refused", false},
      {"NDCR,>A;", "refused", false},
      {"DELD,>ABCD,D01022024;", "refused", false},
      {"DELD,D01022024;", "refused", false},
  };
  ConversionSettings settings;
  settings.rt = true;
  settings.rtSerial = "99ZTA123456";
  for (const Case& c : cases) {
    ConversionState state(settings);
    const HandlerResult r = (c.line[0] == 'N' ? HandleNdcr : HandleDeld)(state, c.line);
    EXPECT_EQ(r == HandlerResult::kRefuse ? "refused" : state.lineResult, c.result) << c.line;
    EXPECT_EQ(state.documentReferenceOpen, c.referenceOpen) << c.line;
  }
}

}  // namespace
}  // namespace kolibra
