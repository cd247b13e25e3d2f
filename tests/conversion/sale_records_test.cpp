// Sale lines and surcharges, on records as the normalizer hands them over.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/record_handlers.h"

namespace kolibra {
namespace {

struct SaleCase {
  const char* name;
  std::string line;
  bool firstItemPending;
  bool documentReferenceOpen;
  std::vector<std::string> output;  // lines appended at once
  std::string result;               // the current line result
};

class SaleTest : public ::testing::TestWithParam<SaleCase> {};

TEST_P(SaleTest, BuildsLines) {
  const SaleCase& c = GetParam();
  ConversionSettings settings;
  ConversionState state(settings);
  state.firstItemPending = c.firstItemPending;
  state.documentReferenceOpen = c.documentReferenceOpen;
  HandleSale(state, c.line);
  EXPECT_EQ(state.output, c.output);
  EXPECT_EQ(state.lineResult, c.result);
  EXPECT_FALSE(state.firstItemPending);
}

INSTANTIATE_TEST_SUITE_P(
    Records, SaleTest,
    ::testing::Values(
        SaleCase{"IntegerPrice", "SALE,N1,P1000;", false, false, {}, "1000H1R"},
        SaleCase{"IntegerPriceQuantity", "SALE,N1,P1000,Q3;", false, false, {}, "3*1000H1R"},
        SaleCase{"IntegerPriceDescription", "SALE,N1,P1000,Q3,:PANE;", false, false, {}, "\"PANE\"3*1000H1R"},
        SaleCase{"DecimalPriceCommentFirst", "SALE,N2,P2.5,Q3,:LATTE;", false, false,
                 {"\"  3 X 2.5\"@"}, "\"LATTE\"1*750H2R"},
        SaleCase{"DecimalQuantityTextKept", "SALE,N2,P2.5,Q1.500;", false, false,
                 {"\"  1.500 X 2.5\"@"}, "1*375H2R"},
        SaleCase{"HalfCentRoundsToEvenDown", "SALE,N1,P0.125;", false, false, {"\"  1 X 0.125\"@"}, "1*12H1R"},
        SaleCase{"HalfCentRoundsToEvenUp", "SALE,N1,P0.375;", false, false, {"\"  1 X 0.375\"@"}, "1*38H1R"},
        SaleCase{"BinaryFractionStillExact", "SALE,N1,P1.99;", false, false, {"\"  1 X 1.99\"@"}, "1*199H1R"},
        SaleCase{"PludFirstItemCommentAfter", "PLUD,N1,P1.99;", true, false,
                 {"1*199H1R"}, "\" ^---**  1 X 1.99\"@"},
        SaleCase{"SaleEndsFirstItemItself", "SALE,N1,P1.99;", true, false,
                 {"\"  1 X 1.99\"@"}, "1*199H1R"},
        SaleCase{"PludFirstItemIntegerPrice", "PLUD,N1,P199;", true, false, {}, "199H1R"},
        // The sale line written ahead of its comment gets the placeholder
        // treatment too, or "|9m" would reach the ECR.
        SaleCase{"PludFirstItemReturn", "PLUD,N1,P1.5,R;", true, false,
                 {"9M1*150H1R"}, "\" ^---**  1 X 1.5\"@"},
        SaleCase{"ModifierS3NoDepartment", "SALE,N3,P500,S3;", false, false, {}, "500H13M"},
        SaleCase{"ModifierS1DropsDescription", "SALE,N3,P500,S1,:X;", false, false, {}, "17M500H3R"},
        SaleCase{"ModifierS1WinsOverS", "SALE,N3,P500,S,S1;", false, false, {}, "17M500H3R"},
        SaleCase{"ModifierS3WinsOverS2", "SALE,N3,P500,S2,S3;", false, false, {}, "500H13M"},
        SaleCase{"PlainSKeepsDescription", "SALE,N3,P500,S,:X;", false, false, {}, "|0m\"X\"500H3R"},
        SaleCase{"ModifierDecimalPrice", "SALE,N3,P2.5,Q2,S1;", false, false,
                 {"\"  2 X 2.5\"@"}, "17M1*500H3R"},
        SaleCase{"ReturnFlag", "SALE,N1,P100,R;", false, false, {}, "|9m100H1R"},
        SaleCase{"ReturnInsideReferencedDocument", "SALE,N1,P100,R;", false, true, {}, "100H1R"},
        SaleCase{"ReturnBehindModifier", "SALE,N1,P100,R,S1;", false, false, {}, "17M|9m100H1R"},
        SaleCase{"QuoteBecomesApostrophe", "SALE,N1,P100,:A\"B\";", false, false, {}, "\"A'B'\"100H1R"},
        SaleCase{"NoPrice", "SALE,N5,:X;", false, false, {}, "\"X\"5R"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SaleTest, AmountTooLargeIsAFailureNotAWrap) {
  ConversionSettings settings;
  ConversionState state(settings);
  state.firstItemPending = false;
  EXPECT_THROW(HandleSale(state, "SALE,N1,P99999999.99,Q1000;"), ConversionFailure);
}

TEST(SaleTest, FirstItemInnerPlaceholderFollowsPercentFlag) {
  for (const bool percent : {false, true}) {
    ConversionSettings settings;
    ConversionState state(settings);
    state.percent = percent;
    HandleSale(state, "PLUD,N1,P1.5,S1,R;");
    ASSERT_EQ(state.output.size(), 1u);
    EXPECT_EQ(state.output[0], percent ? "17M*9M1*150H1R" : "17MH9M1*150H1R");
  }
}

TEST(SurchargeTest, AmountAndModifier) {
  ConversionSettings settings;
  ConversionState state(settings);
  HandleSurcharge(state, "ADDS,V250;");
  EXPECT_EQ(state.lineResult, "=250H8M");
  EXPECT_TRUE(state.output.empty());
}

}  // namespace
}  // namespace kolibra
