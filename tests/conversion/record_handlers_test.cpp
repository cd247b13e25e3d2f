// Record handlers in one table (sales, payments, and the other records:
// invoices, texts, barcodes, document references); the single-record
// converter and its call shape.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/line_converter.h"
#include "conversion/record_handlers.h"

namespace kolibra {
namespace {

using Lines = std::vector<std::string>;
using Handler = HandlerResult (*)(ConversionState&, const std::string&);

template <void (*F)(ConversionState&, const std::string&)>
HandlerResult Done(ConversionState& state, const std::string& line) {
  F(state, line);
  return HandlerResult::kDone;
}

// A VAT number with a correct check digit.
#define VAT "01234567897"

// The state a record meets.
enum Flag { kFirstItem = 1, kDocumentOpen = 2, kPercent = 4, kInvoice = 8, kCodeEmitted = 16, kPag4 = 32 };

TEST(RecordHandlers, BuildLines) {
  struct Case {
    Handler handler;
    std::string line;
    std::string result;  // line result, or "dropped" / "refused"
    Lines output = {};   // lines appended at once
    int flags = 0;
    int paymentsIndex = 0;
    std::string family = "ZT", suffix = "";  // suffix: last-tender suffix afterwards
  };
  const Case cases[] = {
      // Sales.
      {Done<HandleSale>, "SALE,N1,P1000,Q3,:PANE;", "\"PANE\"3*1000H1R"},
      {Done<HandleSale>, "SALE,N1,P0.125;", "1*12H1R", {"\"  1 X 0.125\"@"}},  // half cents to even: 12.5 -> 12
      // The first item from a PLUD writes its sale line ahead of the comment.
      {Done<HandleSale>, "PLUD,N1,P1.99;", "\" ^---**  1 X 1.99\"@", {"1*199H1R"}, kFirstItem},
      // The early sale line gets the placeholder treatment too, or "|9m"
      // would reach the ECR.
      {Done<HandleSale>, "PLUD,N1,P1.5,R;", "\" ^---**  1 X 1.5\"@", {"9M1*150H1R"}, kFirstItem},
      {Done<HandleSale>, "PLUD,N1,P1.5,S1,R;", "\" ^---**  1 X 1.5\"@", {"17M*9M1*150H1R"}, kFirstItem | kPercent},
      {Done<HandleSale>, "SALE,N3,P500,S3;", "500H13M"},
      {Done<HandleSale>, "SALE,N1,P100,R;", "|9m100H1R"},
      {Done<HandleSale>, "SALE,N1,P100,R;", "100H1R", {}, kDocumentOpen},  // inside a referenced document
      {Done<HandleSale>, "SALE,N1,P100,:A\"B\";", "\"A'B'\"100H1R"},
      // Control bytes in a text go as blanks; code-page letters pass.
      {Done<HandleSale>, "SALE,N1,P100,:\x01" "A\x02\x03\x11\x13\x1f\x7f\x80\xe8\xff;", "\" A      \x80\xe8\xff\"100H1R"},
      {Done<HandleSale>, "SALE,N5,:X;", "\"X\"5R"},
      // Payments.
      {Done<HandleTend>, "TEND,N9;", "5T"},
      {Done<HandleTend>, "TEND,N12;", "10T", {}, 0, 2},
      {Done<HandleTend>, "TEND,N2.5;", "2T"},
      {Done<HandleTend>, "TEND,N4,V1000;", "1000H3T", {}, kPag4},
      {Done<HandleTend>, "TEND,N3.5;", "2T", {}, kPag4, 2, "OT"},  // rounded to 4, then Bancomat
      {Done<HandleTend>, "TEND,N4;", "4T", {}, 0, 0, "ZT", "4T"},
      {Done<HandleTend>, "TEND,N4;", "4T", {}, 0, 0, "OT", "5T"},
      {Done<HandleTend>, "TEND,N1,Q2;", "1T"},  // a quantity needs an amount
      {Done<HandleBanc>, "BANC,V100;", "100H3T"},
      {Done<HandleCardCheq>, "CARD,V1500;", "1500H3T"},
      {Done<HandleTick>, "TICK,:BUONO,Q2,V800;", "\"BUONO\"2*800H6T", {}, 0, 0, ""},
      {Done<HandleTend>, "TEND,N1,:A\x13" "B,V5;", "\"A B\"5H1T"},
      {Done<HandleCred>, "CRED,T5,V900;", "900H4T"},
      {Done<HandleOpfs>, "OPFS,N7,:Cliente Uno,<Via Nuova 1,=Milano,>IT01234567890;", "",
       {"\"0007\"@", "99F", "\"Cliente Uno\"@", "\"Via Nuova 1\"@", "\"Milano\"@", "\"IT01234567890\"@", "937F"}},
      // An invoice heading skips the normalizer: its control bytes too become blanks.
      {Done<HandleOpfs>, "OPFS,:Uno\x02,<Via\tNuova;", "", {"99F", "\"Uno \"@", "\"Via Nuova\"@", "937F"}},
      // Extra text lines: invoice lines in invoice mode, else only a customer code.
      {Done<HandleExtl>, "EXTL,:123456789012345678901234567890;", "", {"\"123456789012345678901234\"@"}, kInvoice},
      {Done<HandleExtl>, "EXTL,:" VAT ";", "", {"\"" VAT "\"@", "39F"}},
      {Done<HandleExtl>, "EXTL,:" VAT ";", "", {}, kCodeEmitted},
      {Done<HandleSurcharge>, "ADDS,V250;", "=250H8M"},
      {HandlePrnt, "PRNT,:01234567890;", "\"01234567890\"@"},
      {HandlePrnt, "PRNT,:" VAT ";", "dropped"},
      {Done<HandleDisp>, "DISP,N5,:CIAO;", "\"CIAO\"2%"},
      {Done<HandleDisp>, "DISP,N1,:CI\x11" "AO;", "\"CI AO\"1%"},
      {Done<HandleBarc>, "BARC,T1,:12\x13" "3;", "\"12 3\"1B"},
      {Done<HandleBarc>, "BARC,T3,:123;", "\"123\"3B"},
      {Done<HandleBarc>, "BARC,T1,H,:123;", "\"123\"5B"},
      {Done<HandleBarc>, "BARC,T4,:123;", ""},
      // Document references (RT serial 99ZTA123456); a dated one stays open.
      {HandleNdcr, "NDCR,>VR,D01022024;", "99F\"0\"@\"0\"@\"01022024\"@\"VR\"@931F"},
      {HandleDeld, "DELD,>ABC,D01022024;", "99F\"0\"@\"0\"@\"01022024\"@\"POS\"@930F"},
      {HandleNdcr, "NDCR,>99ZTA123456,N00120034,D01022024;", "99F\"12\"@\"34\"@\"01022024\"@\"1\"@931F"},
      {HandleDeld, "DELD,>99ZTA123456,N00120034,D01022024;", "99F\"12\"@\"34\"@\"01022024\"@\"0\"@930F"},
      {HandleNdcr, "NDCR,>88ZTB654321,N10000000,D01022024;",
       "99F\"1000\"@\"0\"@\"01022024\"@\"88ZTB654321\"@931F"},
      {HandleNdcr, "NDCR,>99ZTA123456,N00120034;", "99F\"12\"@\"34\"@"},
      {HandleNdcr, "NDCR,>ABC,N12345678,D01022024;", "refused"},
      {HandleNdcr, "NDCR,>99ZTA123456,N1234567,D01022024;", "refused"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line + " " + c.family + " " + std::to_string(c.flags));
    ConversionSettings settings;
    settings.rt = true;
    settings.rtSerial = "99ZTA123456";
    settings.paymentsIndex = c.paymentsIndex;
    settings.pag4Bancomat = c.flags & kPag4;
    settings.tenderFamily = c.family;
    ConversionState state(settings);
    state.firstItemPending = c.flags & kFirstItem;
    state.documentReferenceOpen = c.flags & kDocumentOpen;
    state.percent = c.flags & kPercent;
    state.invoiceMode = c.flags & kInvoice;
    state.customerCodeEmitted = c.flags & kCodeEmitted;
    const HandlerResult r = c.handler(state, c.line);
    EXPECT_EQ(r == HandlerResult::kRefuse     ? "refused"
              : r == HandlerResult::kDropLine ? "dropped"
                                              : state.lineResult,
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
}

TEST(LineConverter, ConvertsTheRecordsItKnows) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"SALE,N1,P100,Q3,:PANE;", "\"PANE\"3*100H1R"}, {"FUNC,N007;", "7F"},
      {"FUNC,N39;", "ERRO C211"},      {"FUNC,N1.5;", "ERRO C003"},
      {"DISC,%10.50;", "10.50|3M"},     {"MAGG,V100;", "100|8M"},
      {"DISC,Vabc;", "ERRO C002"},      {"TEND,V100;", "ERRO C004"},
      {"XXXX;", "ERRO C001"},           {"FUNC,N" + std::string(70, '1') + ";", "ERRO C064"},
      {std::string("SALE,N1,P5\0;", 12), "ERRO C005"},
  };
  for (const Case& c : cases) EXPECT_EQ(CallLineConverter(c.in), c.out) << c.in;
}

int32_t NeverEndsWithNul(const char*, int32_t, char* output, char*) {
  std::memset(output, 'Z', kLineConverterOutputSize);
  return 0;
}

// The call shape: NUL-ended output, no negative length, and output of a
// replacement converter read only up to the buffer's size.
TEST(LineConverter, CallShapeAndReplacement) {
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

}  // namespace
}  // namespace kolibra
