// Payment lines: tender numbers by record, settings and tender family code.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/record_handlers.h"

namespace kolibra {
namespace {

using Handler = void (*)(ConversionState&, const std::string&);

struct PaymentCase {
  const char* name;
  Handler handler;
  std::string line;
  int paymentsIndex;
  bool pag4Bancomat;
  std::string family;
  std::string result;
  std::string suffix;  // last-tender suffix afterwards
};

class PaymentTest : public ::testing::TestWithParam<PaymentCase> {};

TEST_P(PaymentTest, BuildsTenderLine) {
  const PaymentCase& c = GetParam();
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

INSTANTIATE_TEST_SUITE_P(
    Tend, PaymentTest,
    ::testing::Values(
        PaymentCase{"LimitFive", HandleTend, "TEND,N9;", 0, false, "ZT", "5T", ""},
        PaymentCase{"EightPaymentsAllowNine", HandleTend, "TEND,N9;", 2, false, "ZT", "9T", ""},
        PaymentCase{"EightPaymentsLimitTen", HandleTend, "TEND,N12;", 2, false, "ZT", "10T", ""},
        PaymentCase{"NoLowerLimit", HandleTend, "TEND,N0;", 0, false, "ZT", "0T", ""},
        PaymentCase{"HalfRoundsToEven", HandleTend, "TEND,N2.5;", 0, false, "ZT", "2T", ""},
        PaymentCase{"NotANumberIsZero", HandleTend, "TEND,NX;", 0, false, "ZT", "0T", ""},
        PaymentCase{"Bancomat4OnZt", HandleTend, "TEND,N4,V1000;", 0, true, "ZT", "1000H3T", ""},
        PaymentCase{"Bancomat4OnGroup", HandleTend, "TEND,N4,V1000;", 0, true, "OT", "1000H2T", ""},
        PaymentCase{"Bancomat4NoCode", HandleTend, "TEND,N4,V1000;", 0, true, "", "1000H4T", ""},
        PaymentCase{"Bancomat4OnlyForFour", HandleTend, "TEND,N3;", 0, true, "ZT", "3T", ""},
        PaymentCase{"RoundedToFourThenBancomat", HandleTend, "TEND,N3.5;", 2, true, "OT", "2T", ""},
        PaymentCase{"Four4TGoesLastOnZt", HandleTend, "TEND,N4;", 0, false, "ZT", "4T", "4T"},
        PaymentCase{"Four5TGoesLastOtherwise", HandleTend, "TEND,N4;", 0, false, "OT", "4T", "5T"},
        PaymentCase{"QuantityNeedsAmount", HandleTend, "TEND,N1,Q2;", 0, false, "ZT", "1T", ""},
        PaymentCase{"QuantityAndAmount", HandleTend, "TEND,N3,Q2,V500;", 0, false, "ZT", "2*500H3T", ""},
        PaymentCase{"DecimalQuantityUsesPoint", HandleTend, "TEND,N1,Q1.5,V500;", 0, false, "ZT", "1.5*500H1T", ""},
        PaymentCase{"QuantityNotNumericIsOne", HandleTend, "TEND,N1,Q,V500;", 0, false, "ZT", "1*500H1T", ""},
        PaymentCase{"Description", HandleTend, "TEND,N1,:CONTANTI,V2500;", 0, false, "ZT", "\"CONTANTI\"2500H1T", ""}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Others, PaymentTest,
    ::testing::Values(
        PaymentCase{"BancZt", HandleBanc, "BANC,V100;", 0, false, "ZT", "100H3T", ""},
        PaymentCase{"BancGroup", HandleBanc, "BANC,:BANCOMAT,V100;", 0, false, "ST", "\"BANCOMAT\"100H2T", ""},
        PaymentCase{"BancUnknownCode", HandleBanc, "BANC;", 0, false, "", "4T", ""},
        PaymentCase{"CardZt", HandleCardCheq, "CARD,V1500;", 0, false, "ZT", "1500H3T", ""},
        PaymentCase{"CardOther", HandleCardCheq, "CARD,V1500;", 0, false, "AT", "1500H4T", ""},
        PaymentCase{"CardNoAmount", HandleCardCheq, "CARD;", 0, false, "AT", "4T", ""},
        PaymentCase{"CardAmountNotNumeric", HandleCardCheq, "CARD,VX;", 0, false, "ZT", "3T", ""},
        PaymentCase{"TickDefaultQuantity", HandleTick, "TICK;", 0, false, "AT", "1*6T", ""},
        PaymentCase{"TickZt", HandleTick, "TICK,V800;", 0, false, "ZT", "1*800H5T", ""},
        PaymentCase{"TickFull", HandleTick, "TICK,:BUONO,Q2,V800;", 0, false, "", "\"BUONO\"2*800H6T", ""},
        PaymentCase{"CredPairZt", HandleCred, "CRED,V900;", 0, false, "ZT", "900H2T", ""},
        PaymentCase{"CredOther", HandleCred, "CRED,T1,V900;", 0, false, "AT", "900H3T", ""},
        PaymentCase{"CredTypeNotNumeric", HandleCred, "CRED,TX,V900;", 0, false, "AT", "900H3T", ""},
        PaymentCase{"CredHighTypeZt", HandleCred, "CRED,T5,V900;", 0, false, "ZT", "900H4T", ""},
        PaymentCase{"CredHighTypeOther", HandleCred, "CRED,T7;", 0, false, "ET", "5T", ""},
        PaymentCase{"CredNegativeType", HandleCred, "CRED,T-1;", 0, false, "ZT", "4T", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CredTest, Type3PutsFunctionAheadOfEverything) {
  ConversionSettings settings;
  settings.tenderFamily = "AT";
  ConversionState state(settings);
  state.output = {"\"RSSMRA80A01H501U\"@39F", "1000H1R"};
  HandleCred(state, "CRED,T3,V900;");
  EXPECT_EQ(state.output, (std::vector<std::string>{"938F", "\"RSSMRA80A01H501U\"@39F", "1000H1R"}));
  EXPECT_EQ(state.lineResult, "900H3T");
}

TEST(PaymentOverflowTest, NumbersBeyondSixteenBitsFail) {
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
