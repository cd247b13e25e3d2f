// Sale lines and surcharges, on records as the normalizer hands them over.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/record_handlers.h"

namespace kolibra {
namespace {

TEST(SaleRecords, BuildLines) {
  struct Case {
    std::string line;
    std::vector<std::string> output;  // lines appended at once
    std::string result;               // the current line result
    bool firstItemPending = false;
    bool documentReferenceOpen = false;
    bool percent = false;
  };
  const Case cases[] = {
      {"SALE,N1,P1000,Q3,:PANE;", {}, "\"PANE\"3*1000H1R"},
      {"SALE,N2,P2.5,Q3,:LATTE;", {"\"  3 X 2.5\"@"}, "\"LATTE\"1*750H2R"},
      {"SALE,N2,P2.5,Q1.500;", {"\"  1.500 X 2.5\"@"}, "1*375H2R"},
      {"SALE,N1,P0.125;", {"\"  1 X 0.125\"@"}, "1*12H1R"},  // half cents to even
      {"SALE,N1,P0.375;", {"\"  1 X 0.375\"@"}, "1*38H1R"},
      {"SALE,N1,P1.99;", {"\"  1 X 1.99\"@"}, "1*199H1R"},
      // The first item from a PLUD writes its sale line ahead of the comment.
      {"PLUD,N1,P1.99;", {"1*199H1R"}, "\" ^---**  1 X 1.99\"@", true},
      {"SALE,N1,P1.99;", {"\"  1 X 1.99\"@"}, "1*199H1R", true},
      {"PLUD,N1,P199;", {}, "199H1R", true},
      // The early sale line gets the placeholder treatment too, or "|9m"
      // would reach the ECR.
      {"PLUD,N1,P1.5,R;", {"9M1*150H1R"}, "\" ^---**  1 X 1.5\"@", true},
      {"PLUD,N1,P1.5,S1,R;", {"17MH9M1*150H1R"}, "\" ^---**  1 X 1.5\"@", true},
      {"PLUD,N1,P1.5,S1,R;", {"17M*9M1*150H1R"}, "\" ^---**  1 X 1.5\"@", true, false, true},
      {"SALE,N3,P500,S3;", {}, "500H13M"},
      {"SALE,N3,P500,S1,:X;", {}, "17M500H3R"},
      {"SALE,N3,P500,S,S1;", {}, "17M500H3R"},
      {"SALE,N3,P500,S2,S3;", {}, "500H13M"},
      {"SALE,N3,P500,S,:X;", {}, "|0m\"X\"500H3R"},
      {"SALE,N3,P2.5,Q2,S1;", {"\"  2 X 2.5\"@"}, "17M1*500H3R"},
      {"SALE,N1,P100,R;", {}, "|9m100H1R"},
      {"SALE,N1,P100,R;", {}, "100H1R", false, true},  // inside a referenced document
      {"SALE,N1,P100,R,S1;", {}, "17M|9m100H1R"},
      {"SALE,N1,P100,:A\"B\";", {}, "\"A'B'\"100H1R"},
      {"SALE,N5,:X;", {}, "\"X\"5R"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line + (c.percent ? " with %" : ""));
    ConversionSettings settings;
    ConversionState state(settings);
    state.firstItemPending = c.firstItemPending;
    state.documentReferenceOpen = c.documentReferenceOpen;
    state.percent = c.percent;
    HandleSale(state, c.line);
    EXPECT_EQ(state.output, c.output);
    EXPECT_EQ(state.lineResult, c.result);
    EXPECT_FALSE(state.firstItemPending);
  }
}

TEST(SaleRecords, AmountTooLargeIsAFailureNotAWrap) {
  ConversionSettings settings;
  ConversionState state(settings);
  EXPECT_THROW(HandleSale(state, "SALE,N1,P99999999.99,Q1000;"), ConversionFailure);
}

TEST(SaleRecords, SurchargeAmount) {
  ConversionSettings settings;
  ConversionState state(settings);
  HandleSurcharge(state, "ADDS,V250;");
  EXPECT_EQ(state.lineResult, "=250H8M");
  EXPECT_TRUE(state.output.empty());
}

}  // namespace
}  // namespace kolibra
