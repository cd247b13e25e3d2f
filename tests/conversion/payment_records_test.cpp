// Payment lines: tender numbers by record, settings and tender family code.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/record_handlers.h"

namespace kolibra {
namespace {

using Handler = void (*)(ConversionState&, const std::string&);

TEST(PaymentRecords, BuildTenderLines) {
  struct Case {
    Handler handler;
    std::string line;
    int paymentsIndex;
    bool pag4Bancomat;
    std::string family;
    std::string result;
    std::string suffix = "";  // last-tender suffix afterwards
  };
  const Case cases[] = {
      {HandleTend, "TEND,N9;", 0, false, "ZT", "5T"},
      {HandleTend, "TEND,N9;", 2, false, "ZT", "9T"},
      {HandleTend, "TEND,N12;", 2, false, "ZT", "10T"},
      {HandleTend, "TEND,N0;", 0, false, "ZT", "0T"},
      {HandleTend, "TEND,N2.5;", 0, false, "ZT", "2T"},
      {HandleTend, "TEND,NX;", 0, false, "ZT", "0T"},
      {HandleTend, "TEND,N4,V1000;", 0, true, "ZT", "1000H3T"},
      {HandleTend, "TEND,N4,V1000;", 0, true, "OT", "1000H2T"},
      {HandleTend, "TEND,N4,V1000;", 0, true, "", "1000H4T"},
      {HandleTend, "TEND,N3;", 0, true, "ZT", "3T"},
      {HandleTend, "TEND,N3.5;", 2, true, "OT", "2T"},  // rounded to 4, then Bancomat
      {HandleTend, "TEND,N4;", 0, false, "ZT", "4T", "4T"},
      {HandleTend, "TEND,N4;", 0, false, "OT", "4T", "5T"},
      {HandleTend, "TEND,N1,Q2;", 0, false, "ZT", "1T"},  // a quantity needs an amount
      {HandleTend, "TEND,N1,Q1.5,V500;", 0, false, "ZT", "1.5*500H1T"},
      {HandleTend, "TEND,N1,Q,V500;", 0, false, "ZT", "1*500H1T"},
      {HandleTend, "TEND,N1,:CONTANTI,V2500;", 0, false, "ZT", "\"CONTANTI\"2500H1T"},
      {HandleBanc, "BANC,V100;", 0, false, "ZT", "100H3T"},
      {HandleBanc, "BANC,:BANCOMAT,V100;", 0, false, "ST", "\"BANCOMAT\"100H2T"},
      {HandleBanc, "BANC;", 0, false, "", "4T"},
      {HandleCardCheq, "CARD,V1500;", 0, false, "ZT", "1500H3T"},
      {HandleCardCheq, "CARD,V1500;", 0, false, "AT", "1500H4T"},
      {HandleCardCheq, "CARD,VX;", 0, false, "ZT", "3T"},
      {HandleTick, "TICK;", 0, false, "AT", "1*6T"},
      {HandleTick, "TICK,V800;", 0, false, "ZT", "1*800H5T"},
      {HandleTick, "TICK,:BUONO,Q2,V800;", 0, false, "", "\"BUONO\"2*800H6T"},
      {HandleCred, "CRED,V900;", 0, false, "ZT", "900H2T"},
      {HandleCred, "CRED,TX,V900;", 0, false, "AT", "900H3T"},
      {HandleCred, "CRED,T5,V900;", 0, false, "ZT", "900H4T"},
      {HandleCred, "CRED,T7;", 0, false, "ET", "5T"},
      {HandleCred, "CRED,T-1;", 0, false, "ZT", "4T"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line + " " + c.family);
    ConversionSettings settings;
    settings.paymentsIndex = c.paymentsIndex;
    settings.pag4Bancomat = c.pag4Bancomat;
    settings.tenderFamily = c.family;
    ConversionState state(settings);
    c.handler(state, c.line);
    EXPECT_EQ(state.lineResult, c.result);
    EXPECT_EQ(state.lastTenderSuffix, c.suffix);
    EXPECT_TRUE(state.output.empty());
  }
}

TEST(PaymentRecords, CreditType3PutsFunctionAheadOfEverything) {
  ConversionSettings settings;
  settings.tenderFamily = "AT";
  ConversionState state(settings);
  state.output = {"\"RSSMRA80A01H501U\"@39F", "1000H1R"};
  HandleCred(state, "CRED,T3,V900;");
  EXPECT_EQ(state.output, (std::vector<std::string>{"938F", "\"RSSMRA80A01H501U\"@39F", "1000H1R"}));
  EXPECT_EQ(state.lineResult, "900H3T");
}

TEST(PaymentRecords, NumbersBeyondSixteenBitsFail) {
  ConversionSettings settings;
  settings.paymentsIndex = 2;
  for (const char* line : {"TEND,N70000;", "TEND,N32767.5;", "TEND,N-32769;"}) {
    ConversionState state(settings);
    EXPECT_THROW(HandleTend(state, line), ConversionFailure) << line;
  }
  ConversionState state(settings);
  EXPECT_THROW(HandleCred(state, "CRED,T40000;"), ConversionFailure);
  EXPECT_TRUE(state.output.empty());
}

}  // namespace
}  // namespace kolibra
