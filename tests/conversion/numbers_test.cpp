// The number reader in every form its callers use, and the formatters.
#include "conversion/numbers.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <optional>
#include <string>

#include "conversion/conversion_state.h"

namespace kolibra {
namespace {

// The forms of the callers: command file, polling interval, settings item,
// baud box, address part, ECR reply field, discount value.
constexpr NumberForm kInterval{" \t", false, true, ""};
constexpr NumberForm kItem{" \t", true, true, ""};
constexpr NumberForm kBaud{" ", false, false, ""};
constexpr NumberForm kAddress{" ", true, false, "Ee"};
constexpr NumberForm kReply{" ", true, true, ""};
constexpr NumberForm kPlain{"", false, true, ""};

TEST(Numbers, ReadsEachForm) {
  const struct {
    const NumberForm& form;
    std::string text;
    std::string leading;  // LeadingNumberText
    bool whole;           // IsNumberText
    double value;         // LeadingNumber
  } cases[] = {
      // Empty, blanks only, a sign or a point alone: no number.
      {kCommandFileNumber, "", "", false, 0},
      {kCommandFileNumber, " \t ", "", false, 0},
      {kCommandFileNumber, "-", "", false, 0},
      {kCommandFileNumber, "-.", "", false, 0},
      {kPlain, ".", "", false, 0},
      // Blanks: which ones, and only around the number.
      {kCommandFileNumber, "\t 12 \t", "12", true, 12},
      {kReply, "\t12", "", false, 0},
      {kBaud, " 9600\t", "9600", false, 9600},
      {kPlain, " 5", "", false, 0},
      {kItem, "1 2", "1", false, 1},
      // Signs: right before the digits, only where the form has them.
      {kCommandFileNumber, "+5", "+5", true, 5},
      {kItem, "- 5", "", false, 0},
      {kInterval, "-5", "", false, 0},
      {kReply, " -0012 ", "-0012", true, -12},
      // Points: leading, trailing, one only, refused where the form has none.
      {kCommandFileNumber, "-.5", "-.5", true, -0.5},
      {kPlain, "5.", "5.", true, 5},
      {kInterval, "1.5.2", "1.5", false, 1.5},
      {kCommandFileNumber, "1,5", "1", false, 1},
      {kAddress, "1.5", "1", false, 1},
      {kInterval, "2.5ms", "2.5", false, 2.5},
      // Exponents: only with digits after the optional sign, only its letters.
      {kCommandFileNumber, "1d-2", "1d-2", true, 0.01},
      {kCommandFileNumber, "1E", "1", false, 1},
      {kCommandFileNumber, "2e+", "2", false, 2},
      {kAddress, "25e1", "25e1", true, 250},
      {kAddress, "1D2", "1", false, 1},
      {kReply, "1e2", "1", false, 1},
      // Too large gives the largest double, too small gives 0.
      {kInterval, "1" + std::string(400, '0'), "1" + std::string(400, '0'), true, DBL_MAX},
      {kInterval, "0." + std::string(400, '0') + "1", "0." + std::string(400, '0') + "1", true, 0},
      {kReply, "-" + std::string(400, '9'), "-" + std::string(400, '9'), true, -DBL_MAX},
      {kAddress, "1e-999", "1e-999", true, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LeadingNumberText(c.text, c.form), c.leading) << c.text;
    EXPECT_EQ(IsNumberText(c.text, c.form), c.whole) << c.text;
    std::string written = "old";
    EXPECT_DOUBLE_EQ(LeadingNumber(c.text, c.form, &written), c.value) << c.text;
    EXPECT_EQ(written, c.leading) << c.text;
    EXPECT_EQ(ParseNumber(c.text, c.form), c.whole ? std::optional<double>(c.value) : std::nullopt)
        << c.text;
  }
}

TEST(Numbers, ValuesAreCorrectlyRounded) {
  // A digit-by-digit sum would give 0.30000000000000004.
  EXPECT_EQ(NumberValue("0.3"), 0.3);
  EXPECT_EQ(NumberValue("+.1e1"), 1.0);
  bool outOfRange = false;
  EXPECT_EQ(NumberValue("-1e400", &outOfRange), -DBL_MAX);
  EXPECT_TRUE(outOfRange);
  EXPECT_EQ(NumberValue("5", &outOfRange), 5);
  EXPECT_FALSE(outOfRange);
}

TEST(Numbers, CommandFileOverflow) {
  // Out of range is an overflow, unless the exponent is negative.
  EXPECT_THROW(NumericValue("1E999"), ConversionFailure);
  EXPECT_THROW(NumericValue("0." + std::string(400, '0') + "1"), ConversionFailure);
  EXPECT_EQ(NumericValue("1E-999"), 0);
  EXPECT_DOUBLE_EQ(NumericValue(" 1d-2x"), 0.01);
  EXPECT_TRUE(IsNumeric(" -.5 ") && !IsNumeric("1.2.3"));
  EXPECT_EQ(NumericValue("1" + std::string(400, '0') + "e-5"), 0);
  EXPECT_THROW(ToInt16Checked(32767.5), ConversionFailure);  // rounds to 32768
  EXPECT_EQ(ToInt16Checked(-32768.4), -32768);
}

TEST(Numbers, BoundedIntegers) {
  const struct {
    std::string text;
    std::size_t maxDigits;
    std::optional<int64_t> value;
  } cases[] = {
      {"", 9, std::nullopt},          {"1", 9, 1},
      {"65535", 9, 65535},            {"65536", 9, std::nullopt},
      {"0", 9, std::nullopt},         {"000000001", 9, 1},
      {"0000000001", 9, std::nullopt}, {"0000000001", 10, 1},
      {"+1", 9, std::nullopt},        {" 1", 9, std::nullopt},
      {"1.0", 9, std::nullopt},       {std::string(40, '9'), 40, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseBoundedInt(c.text, 1, 65535, c.maxDigits), c.value) << c.text;
}

TEST(Numbers, Formats) {
  const struct {
    double value;
    const char* number;   // FormatNumber
    const char* decimal;  // FormatDecimal
  } cases[] = {
      {0, "0", "0"},
      {2.5, "2.5", "2.5"},
      {0.25, "0.25", "0.25"},
      {-3, "-3", "-3"},
      {1e15, "1E+15", "1000000000000000"},
      {1.0 / 3, "0.333333333333333", "0.3333333333333333"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatNumber(c.value), c.number) << c.value;
    EXPECT_EQ(FormatDecimal(c.value), c.decimal) << c.value;
  }
}

}  // namespace
}  // namespace kolibra
