// Invoices, printed and displayed text, barcodes and document references.
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

// A VAT number and a fiscal code with correct check characters.
#define VAT "01234567897"
#define FISCAL_CODE "RSSMRA80A01H501U"

TEST(OtherRecords, BuildLines) {
  struct Case {
    Handler handler;
    std::string line;
    std::string result;  // line result, or "dropped" / "refused"
    Lines output = {};   // lines appended at once
    bool invoiceMode = false;
    bool codeEmitted = false;
  };
  const Case cases[] = {
      {Done<HandleOpfs>, "OPFS,N7,:Cliente Uno,<Via Nuova 1,=Milano,>IT01234567890;", "",
       {"\"0007\"@", "99F", "\"Cliente Uno\"@", "\"Via Nuova 1\"@", "\"Milano\"@", "\"IT01234567890\"@", "937F"}},
      {Done<HandleOpfs>, "OPFS,N 12.5 ;", "", {"\"0012\"@", "99F", "937F"}},
      {Done<HandleOpfs>, "OPFS,N1A,:123456789012345678901234567890;", "",
       {"99F", "\"123456789012345678901234\"@", "937F"}},
      // Extra text lines: invoice lines in invoice mode, else only a customer code.
      {Done<HandleExtl>, "EXTL,:123456789012345678901234567890;", "", {"\"123456789012345678901234\"@"}, true},
      {Done<HandleExtl>, "EXTL,:" VAT ";", "", {"\"" VAT "\"@"}, true},
      {Done<HandleExtl>, "EXTL,:" VAT ";", "", {"\"" VAT "\"@", "39F"}},
      {Done<HandleExtl>, "EXTL,:" FISCAL_CODE ";", "", {"\"" FISCAL_CODE "\"@", "39F"}},
      {Done<HandleExtl>, "EXTL,:" VAT ";", "", {}, false, true},
      {Done<HandleExtl>, "EXTL,:01234567890;", ""},
      {HandlePrnt, "PRNT,:SAY \"HI\";", "\"SAY 'HI'\"@"},
      {HandlePrnt, "PRNT,:01234567890;", "\"01234567890\"@"},
      {HandlePrnt, "PRNT;", ""},
      {HandlePrnt, "PRNT,:" VAT ";", "dropped"},
      {HandlePrnt, "PRNT,:" FISCAL_CODE ";", "dropped"},
      {Done<HandleDisp>, "DISP,N5,:CIAO;", "\"CIAO\"2%"},
      {Done<HandleDisp>, "DISP,N0,:CIAO;", "\"CIAO\"0%"},
      {Done<HandleDisp>, "DISP,:BENVENUTI;", "\"BENVENUTI\"1%"},
      {Done<HandleBarc>, "BARC,T3,:123;", "\"123\"3B"},
      {Done<HandleBarc>, "BARC,T1,H,:123;", "\"123\"5B"},
      {Done<HandleBarc>, "BARC,T2,H,:123;", "\"123\"4B"},
      {Done<HandleBarc>, "BARC,T3,H1,:123;", "\"123\"6B"},
      {Done<HandleBarc>, "BARC,T4,:123;", ""},
      {Done<HandleBarc>, "BARC,T0,H,:123;", ""},
      {Done<HandleBarc>, "BARC,TX,:123;", ""},
      {Done<HandleBarc>, "BARC,T1;", ""},
      // Document references (RT serial 99ZTA123456); a dated one stays open.
      {HandleNdcr, "NDCR,>VR,D01022024;", "99F\"0\"@\"0\"@\"01022024\"@\"VR\"@931F"},
      {HandleDeld, "DELD,>XY,D01022024;", "99F\"0\"@\"0\"@\"01022024\"@\"ND\"@930F"},
      {HandleDeld, "DELD,>ABC,D01022024;", "99F\"0\"@\"0\"@\"01022024\"@\"POS\"@930F"},
      {HandleNdcr, "NDCR,>99ZTA123456,N00120034,D01022024;", "99F\"12\"@\"34\"@\"01022024\"@\"1\"@931F"},
      {HandleDeld, "DELD,>99ZTA123456,N00120034,D01022024;", "99F\"12\"@\"34\"@\"01022024\"@\"0\"@930F"},
      {HandleNdcr, "NDCR,>88ZTB654321,N10000000,D01022024;",
       "99F\"1000\"@\"0\"@\"01022024\"@\"88ZTB654321\"@931F"},
      {HandleNdcr, "NDCR,>99ZTA123456,N00120034;", "99F\"12\"@\"34\"@"},
      {HandleNdcr, "NDCR,>VR;", ""},
      {HandleNdcr, "NDCR,>ABC,N12345678,D01022024;", "refused"},
      {HandleNdcr, "NDCR,>99ZTA123456,N1234567,D01022024;", "refused"},
      {HandleNdcr, "NDCR,>A;", "refused"},
      {HandleDeld, "DELD,>ABCD,D01022024;", "refused"},
      {HandleDeld, "DELD,D01022024;", "refused"},
  };
  ConversionSettings settings;
  settings.rt = true;
  settings.rtSerial = "99ZTA123456";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ConversionState state(settings);
    state.invoiceMode = c.invoiceMode;
    state.customerCodeEmitted = c.codeEmitted;
    const HandlerResult r = c.handler(state, c.line);
    EXPECT_EQ(r == HandlerResult::kRefuse     ? "refused"
              : r == HandlerResult::kDropLine ? "dropped"
                                              : state.lineResult,
              c.result);
    EXPECT_EQ(state.output, c.output);
    const bool opfs = c.handler == Done<HandleOpfs>;
    EXPECT_EQ(state.invoiceMode, c.invoiceMode || opfs);
    const bool dated = c.result.size() > 4 && c.result.compare(c.result.size() - 4, 2, "93") == 0;
    EXPECT_EQ(state.documentReferenceOpen, dated);
    if (c.handler == Done<HandleExtl>) {
      EXPECT_EQ(state.customerCodeEmitted, c.codeEmitted || c.output.size() == 2);
    }
  }
}

TEST(OtherRecords, NumbersBeyondSixteenBitsFail) {
  ConversionSettings settings;
  ConversionState state(settings);
  EXPECT_THROW(HandleDisp(state, "DISP,N99999,:CIAO;"), ConversionFailure);
  EXPECT_THROW(HandleBarc(state, "BARC,T99999,:123;"), ConversionFailure);
}

}  // namespace
}  // namespace kolibra
