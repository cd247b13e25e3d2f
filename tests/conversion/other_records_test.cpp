// Invoices, printed and displayed text, drawer, non-fiscal documents,
// barcodes and document references.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/record_handlers.h"

namespace kolibra {
namespace {

using Lines = std::vector<std::string>;

// A VAT number and a fiscal code with correct check characters.
constexpr const char* kVat = "01234567897";
constexpr const char* kFiscalCode = "RSSMRA80A01H501U";

TEST(OpfsTest, HeadingLines) {
  struct Case {
    std::string line;
    Lines output;
  };
  const Case cases[] = {
      {"OPFS,N7,:Cliente Uno,<Via Nuova 1,=Milano,>IT01234567890;",
       {"\"0007\"@", "99F", "\"Cliente Uno\"@", "\"Via Nuova 1\"@", "\"Milano\"@", "\"IT01234567890\"@", "937F"}},
      {"OPFS,:Name;", {"99F", "\"Name\"@", "937F"}},
      {"OPFS,N12345,>Ultima;", {"\"12345\"@", "99F", "\"Ultima\"@", "937F"}},
      {"OPFS,N12.5;", {"\"0012\"@", "99F", "937F"}},
      {"OPFS,N 12 ;", {"\"0012\"@", "99F", "937F"}},
      {"OPFS,N1A;", {"99F", "937F"}},
      {"OPFS,:123456789012345678901234567890;", {"99F", "\"123456789012345678901234\"@", "937F"}},
  };
  for (const Case& c : cases) {
    ConversionSettings settings;
    ConversionState state(settings);
    HandleOpfs(state, c.line);
    EXPECT_EQ(state.output, c.output) << c.line;
    EXPECT_TRUE(state.lineResult.empty()) << c.line;
    EXPECT_TRUE(state.invoiceMode) << c.line;
  }
}

TEST(ExtlTest, InvoiceLineOrCustomerCode) {
  struct Case {
    std::string line;
    bool invoiceMode;
    bool codeEmitted;
    Lines output;
    bool codeEmittedAfter;
  };
  const std::string vat = kVat;
  const Case cases[] = {
      {"EXTL,:123456789012345678901234567890;", true, false, {"\"123456789012345678901234\"@"}, false},
      {"EXTL,:" + vat + ";", true, false, {"\"" + vat + "\"@"}, false},
      {"EXTL,:" + vat + ";", false, false, {"\"" + vat + "\"@", "39F"}, true},
      {std::string("EXTL,:") + kFiscalCode + ";", false, false,
       {std::string("\"") + kFiscalCode + "\"@", "39F"}, true},
      {"EXTL,:" + vat + ";", false, true, {}, true},
      {"EXTL,:01234567890;", false, false, {}, false},
      {"EXTL;", true, false, {}, false},
  };
  for (const Case& c : cases) {
    ConversionSettings settings;
    ConversionState state(settings);
    state.invoiceMode = c.invoiceMode;
    state.customerCodeEmitted = c.codeEmitted;
    HandleExtl(state, c.line);
    EXPECT_EQ(state.output, c.output) << c.line;
    EXPECT_EQ(state.customerCodeEmitted, c.codeEmittedAfter) << c.line;
    // The record still goes on to the external converter.
    EXPECT_TRUE(state.lineResult.empty()) << c.line;
  }
}

TEST(PrntTest, TextLineOrDroppedCode) {
  struct Case {
    std::string line;
    HandlerResult ret;
    std::string result;
  };
  const Case cases[] = {
      {"PRNT,:HELLO;", HandlerResult::kDone, "\"HELLO\"@"},
      {"PRNT,:SAY \"HI\";", HandlerResult::kDone, "\"SAY 'HI'\"@"},
      {std::string("PRNT,:") + kVat + ";", HandlerResult::kDropLine, ""},
      {std::string("PRNT,:") + kFiscalCode + ";", HandlerResult::kDropLine, ""},
      {"PRNT,:01234567890;", HandlerResult::kDone, "\"01234567890\"@"},
      {"PRNT;", HandlerResult::kDone, ""},
  };
  for (const Case& c : cases) {
    ConversionSettings settings;
    ConversionState state(settings);
    EXPECT_EQ(HandlePrnt(state, c.line), c.ret) << c.line;
    EXPECT_EQ(state.lineResult, c.result) << c.line;
    EXPECT_TRUE(state.output.empty()) << c.line;
  }
}

TEST(DispTest, Rows) {
  const std::pair<std::string, std::string> cases[] = {
      {"DISP,N5,:CIAO;", "\"CIAO\"2%"},
      {"DISP,N2,:CIAO;", "\"CIAO\"2%"},
      {"DISP,N1,:CIAO;", "\"CIAO\"1%"},
      {"DISP,N0,:CIAO;", "\"CIAO\"0%"},
      {"DISP,:BENVENUTI;", "\"BENVENUTI\"1%"},
      {"DISP,NX,:CIAO;", "\"CIAO\"1%"},
  };
  for (const auto& [line, result] : cases) {
    ConversionSettings settings;
    ConversionState state(settings);
    HandleDisp(state, line);
    EXPECT_EQ(state.lineResult, result) << line;
  }
}

TEST(SimpleRecordsTest, DrawerAndNonFiscalDocument) {
  ConversionSettings settings;
  const std::pair<void (*)(ConversionState&, const std::string&), std::string> cases[] = {
      {HandleOpen, "a"}, {HandleOpnf, "j"}, {HandleClnf, "J"}};
  for (const auto& [handler, result] : cases) {
    ConversionState state(settings);
    handler(state, "XXXX,N1;");
    EXPECT_EQ(state.lineResult, result);
  }
}

TEST(BarcTest, Types) {
  const std::pair<std::string, std::string> cases[] = {
      {"BARC,T1,:8001234567890;", "\"8001234567890\"1B"},
      {"BARC,T2,:123;", "\"123\"2B"},
      {"BARC,T3,:123;", "\"123\"3B"},
      {"BARC,T1,H,:123;", "\"123\"5B"},
      {"BARC,T2,H,:123;", "\"123\"4B"},
      {"BARC,T3,H1,:123;", "\"123\"6B"},
      {"BARC,T2.5,:123;", "\"123\"2B"},
      {"BARC,T4,:123;", ""},
      {"BARC,T0,H,:123;", ""},
      {"BARC,T-1,:123;", ""},
      {"BARC,TX,:123;", ""},
      {"BARC,:123;", ""},
      {"BARC,T1;", ""},
  };
  for (const auto& [line, result] : cases) {
    ConversionSettings settings;
    ConversionState state(settings);
    HandleBarc(state, line);
    EXPECT_EQ(state.lineResult, result) << line;
  }
}

TEST(OverflowTest, SixteenBitFieldsOfOtherRecords) {
  ConversionSettings settings;
  ConversionState state(settings);
  EXPECT_THROW(HandleDisp(state, "DISP,N99999,:CIAO;"), ConversionFailure);
  EXPECT_THROW(HandleBarc(state, "BARC,T99999,:123;"), ConversionFailure);
}

TEST(ReferenceTest, CreditNoteAndAnnulment) {
  using Handler = HandlerResult (*)(ConversionState&, const std::string&);
  struct Case {
    Handler handler;
    std::string line;
    HandlerResult ret;
    std::string result;
    bool referenceOpen;
  };
  const Case cases[] = {
      {HandleNdcr, "NDCR,>VR,D01022024;", HandlerResult::kDone, "99F\"0\"@\"0\"@\"01022024\"@\"VR\"@931F", true},
      {HandleDeld, "DELD,>XY,D01022024;", HandlerResult::kDone, "99F\"0\"@\"0\"@\"01022024\"@\"ND\"@930F", true},
      {HandleNdcr, "NDCR,>ND,D01022024;", HandlerResult::kDone, "99F\"0\"@\"0\"@\"01022024\"@\"ND\"@931F", true},
      {HandleDeld, "DELD,>ABC,D01022024;", HandlerResult::kDone, "99F\"0\"@\"0\"@\"01022024\"@\"POS\"@930F", true},
      {HandleNdcr, "NDCR,>99ZTA123456,N00120034,D01022024;", HandlerResult::kDone,
       "99F\"12\"@\"34\"@\"01022024\"@\"1\"@931F", true},
      {HandleDeld, "DELD,>99ZTA123456,N00120034,D01022024;", HandlerResult::kDone,
       "99F\"12\"@\"34\"@\"01022024\"@\"0\"@930F", true},
      {HandleNdcr, "NDCR,>88ZTB654321,N10000000,D01022024;", HandlerResult::kDone,
       "99F\"1000\"@\"0\"@\"01022024\"@\"88ZTB654321\"@931F", true},
      // Without a date the line is what the document numbers gave, and no
      // reference is open.
      {HandleNdcr, "NDCR,>99ZTA123456,N00120034;", HandlerResult::kDone, "99F\"12\"@\"34\"@", false},
      {HandleNdcr, "NDCR,>VR;", HandlerResult::kDone, "", false},
      {HandleNdcr, "NDCR,>ABC,N12345678,D01022024;", HandlerResult::kRefuse, "", false},
      {HandleNdcr, "NDCR,>99ZTA123456,N1234567,D01022024;", HandlerResult::kRefuse, "", false},
      {HandleNdcr, "NDCR,>A;", HandlerResult::kRefuse, "", false},
      {HandleDeld, "DELD,>ABCD,D01022024;", HandlerResult::kRefuse, "", false},
      {HandleDeld, "DELD,D01022024;", HandlerResult::kRefuse, "", false},
  };
  ConversionSettings settings;
  settings.rt = true;
  settings.rtSerial = "99ZTA123456";
  for (const Case& c : cases) {
    ConversionState state(settings);
    EXPECT_EQ(c.handler(state, c.line), c.ret) << c.line;
    EXPECT_EQ(state.lineResult, c.result) << c.line;
    EXPECT_EQ(state.documentReferenceOpen, c.referenceOpen) << c.line;
    EXPECT_TRUE(state.output.empty()) << c.line;
  }
}

}  // namespace
}  // namespace kolibra
