// Numeric helpers: number test, reading, rounding, checked narrowing, text.
#include "conversion/numbers.h"

#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "conversion/conversion_state.h"

namespace kolibra {
namespace {

TEST(NumbersTest, IsNumeric) {
  const std::pair<const char*, bool> cases[] = {
      {"12", true},   {" 12 ", true},  {"-3", true},  {"+3", true},    {"2.5", true},
      {".5", true},   {"5.", true},    {"1E3", true}, {"1d-2", true},  {"", false},
      {" ", false},   {".", false},    {"-", false},  {"1.2.3", false}, {"12a", false},
      {"1E", false},  {"1 2", false},  {"X", false},  {"1,5", false},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(IsNumeric(text), expected) << text;
}

TEST(NumbersTest, NumericValueReadsLeadingNumber) {
  const std::pair<const char*, double> cases[] = {
      {"12", 12},   {"  12.5abc", 12.5}, {"abc", 0},   {"", 0},      {"-.5", -0.5},
      {".25", 0.25}, {"1.2.3", 1.2},     {"1E2", 100}, {"1Ex", 1},   {"0012", 12},
      {"1,5", 1},   {"2.500", 2.5},
  };
  for (const auto& [text, expected] : cases) EXPECT_DOUBLE_EQ(NumericValue(text), expected) << text;
  EXPECT_THROW(NumericValue("1E999"), ConversionFailure);
}

TEST(NumbersTest, RoundHalfEven) {
  const std::pair<double, double> cases[] = {
      {12.5, 12}, {13.5, 14}, {0.5, 0}, {1.5, 2}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2},
      {2.4999, 2}, {2.5001, 3}, {-2.6, -3}, {7, 7},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(RoundHalfEven(value), expected) << value;
}

TEST(NumbersTest, CheckedNarrowing) {
  EXPECT_EQ(ToInt16Checked(32767), 32767);
  EXPECT_EQ(ToInt16Checked(-32768), -32768);
  EXPECT_EQ(ToInt16Checked(-32768.5), -32768);
  EXPECT_THROW(ToInt16Checked(32767.5), ConversionFailure);
  EXPECT_THROW(ToInt16Checked(32768), ConversionFailure);
  EXPECT_THROW(ToInt16Checked(-32769), ConversionFailure);
  EXPECT_THROW(ToInt16Checked(std::numeric_limits<double>::quiet_NaN()), ConversionFailure);
  EXPECT_EQ(ToInt32Checked(2147483647), 2147483647);
  EXPECT_THROW(ToInt32Checked(2147483648.0), ConversionFailure);
  EXPECT_THROW(ToInt64Checked(9.3e18), ConversionFailure);
}

TEST(NumbersTest, FormatNumber) {
  const std::pair<double, const char*> cases[] = {
      {3, "3"},        {10.5, "10.5"},           {0.5, "0.5"},         {-0.5, "-0.5"},
      {1.99, "1.99"},  {0.1 + 0.2, "0.3"},       {100000, "100000"},   {123456789012345, "123456789012345"},
      {1e15, "1E+15"}, {-0.0, "0"},              {1.5, "1.5"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(FormatNumber(value), expected) << value;
}

}  // namespace
}  // namespace kolibra
