// Number test and reading: "." is the only separator, reading stops at the
// first character that cannot continue the number.
#include "conversion/numbers.h"

#include <gtest/gtest.h>

#include "conversion/conversion_state.h"

namespace kolibra {
namespace {

TEST(NumbersTest, IsNumericAndValue) {
  struct Case {
    const char* text;
    bool numeric;
    double value;
  };
  const Case cases[] = {
      {" 12 ", true, 12},  {"-.5", true, -0.5}, {"1E3", true, 1000}, {"1d-2", true, 0.01},
      {"", false, 0},      {".", false, 0},     {"1.2.3", false, 1.2}, {"12.5abc", false, 12.5},
      {"1E", false, 1},    {"1 2", false, 1},   {"1,5", false, 1},    {"X1", false, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsNumeric(c.text), c.numeric) << c.text;
    EXPECT_DOUBLE_EQ(NumericValue(c.text), c.value) << c.text;
  }
  EXPECT_THROW(NumericValue("1E999"), ConversionFailure);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(FormatNumber(0.1 + 0.2), "0.3");
}

}  // namespace
}  // namespace kolibra
