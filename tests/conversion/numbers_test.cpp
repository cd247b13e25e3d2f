// The number reader in every form its callers use, and the formatters;
// record clean-up, field lookup and customer-code checks.
#include "conversion/numbers.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <optional>
#include <string>

#include "conversion/code_checks.h"
#include "conversion/conversion_state.h"
#include "conversion/normalizer.h"

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

TEST(Numbers, ValuesNormalFormAndRounding) {
  // A digit-by-digit sum would give 0.30000000000000004.
  EXPECT_EQ(NumberValue("0.3"), 0.3);
  EXPECT_EQ(NumberValue("+.1e1"), 1.0);
  bool outOfRange = false;
  EXPECT_EQ(NumberValue("-1e400", &outOfRange), -DBL_MAX);
  EXPECT_TRUE(outOfRange);
  EXPECT_EQ(NumberValue("5", &outOfRange), 5);
  EXPECT_FALSE(outOfRange);

  const struct { const char *in, *out; } forms[] = {
      {"10.50", "10.5"}, {"abc", "0"}, {".5", "0.5"}, {"1,25", "1.25"}, {"000.000", "0"},
      {"1234567890123456", "1234567890123460"}, {"99999999999999999", "100000000000000000"},
  };
  for (const auto& c : forms) EXPECT_EQ(NumberNormalForm(c.in), c.out) << c.in;

  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(FormatNumber(0.1 + 0.2), "0.3");
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

struct Case {
  std::string in;
  std::string out;
};

TEST(NormalizeRecordLine, RewritesRecords) {
  const Case cases[] = {
      {"sale,n01,p1000,q1.5,:Totale pane;", "SALE,N1,P1000,Q1.500,:TOT.   PANE;"},
      {"PRNT,:Pane, burro;", "PRNT,:PANE,B1;"},  // a comma inside a text splits it
      // Kept fields.
      {"PLUD,C0012345ABC,Q2;", "PLUD,C0012345ABC,Q2;"},
      {"NDCR,>ab.c,N0012;", "NDCR,>AB.C,N0012;"},
      // Percentages of discounts have two decimals, quantities three.
      {"MOST,%10.5;", "MOST,%10.50;"},
      {"SALE,Q.5;", "SALE,Q0.500;"},
      // Digit clean-up: keys without digits get 1, except R and S.
      {"SALE,N,R,S,P;", "SALE,N1,R,S,P1;"},
      {"TEND,N 2 ,V1.000,00;", "TEND,N2,V1,00;"},
      // Numbers in normal form only where keyword and key ask for it.
      {"TEND,N004,V0100;", "TEND,N4,V100;"},
      {"CLER,N007;", "CLER,N007;"},
      {"SALE,P12345678901234567890;", "SALE,P12345678901234600000;"},
      // Empty fields vanish with their comma; a trailing one leaves a comma.
      {"SALE,N1,", "SALE,N1,;"},
      {"SALE,   ,N1", "SALE,1,N1;"},
      {"prntx,:a", "PRNT,:A;"},
      // Texts: lone colon, characters before the colon dropped, width.
      {"PRNT,:", "PRNT,: ;"},
      {"PRNT,N1:abc;", "PRNT,:ABC;"},
      {"PRNT,:" + std::string(40, 'a'), "PRNT,:" + std::string(30, 'A') + ";"},
      {"PRNT,:" + std::string(29, 'x') + "\xe4", "PRNT,:" + std::string(29, 'X') + "A;"},
      {"PRNT,:a;b", "PRNT,:A;B"},
      {std::string("PRNT,:a\0b", 9), std::string("PRNT,:A\0B;", 10)},
      // Replacement table.
      {"PRNT,:a\xe4" "b", "PRNT,:AAEB;"},  // upper-cased to \xc4, which gives AE
      {"PRNT,:pane & latte\t\x80", "PRNT,:PANE e LATTEE;"},
      {"PRNT,:\xe0\xe8\xe9\xec\xf2\xf9", "PRNT,:AEEIOU;"},
      {"PRNT,:\x82\x85\x87\x88\x8a\x8d\x95\x97\x9c", "PRNT,:eaceeiouL;"},
      {"PRNT,:\xf5\xf8", "PRNT,:\xd5\xd8;"},  // no longer in the table once upper-cased
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizeRecordLine(c.in, 30), c.out) << c.in;
  EXPECT_EQ(NormalizeRecordLine("PRNT,:abcdef", -5), "PRNT,: ;");

  // A megabyte of digits in linear space.
  const std::string out = NormalizeRecordLine("SALE,P" + std::string(1 << 20, '7'), 30);
  ASSERT_EQ(out.size(), std::size_t{6 + (1 << 20) + 1});
  EXPECT_EQ(out.substr(0, 21), "SALE,P777777777777778");
  EXPECT_EQ(out.find_first_not_of('0', 21), out.size() - 1);
}

TEST(HasNegativeField, FindsSignsTheCleanUpWouldDrop) {
  const struct { const char* line; bool negative; } cases[] = {
      {"tend,n1,v -0.01;", true},  {"TEND,V\t-\t5;", true},  {"TEND,V1,V-1;", true},  // any field with the key
      {"TEND,V-0.00,V-x,V1-2;", false},  // zero, no number, minus not in front
      {"TEND,N-1,:V-5;", false},  {"TEND,N1:V-5;", false},  // other key; texts
      {"V-5;", false},                                      // the keyword is no field
  };
  for (const auto& c : cases) EXPECT_EQ(HasNegativeField(c.line, "VQ"), c.negative) << c.line;
}

TEST(GetField, FindsValuesWithItsQuirks) {
  // value "old": left unchanged
  const struct { bool atStart; const char *line, *key; bool found; const char* value; } cases[] = {
      {false, "sale,n1,p1000;", ",P", true, "1000"},  // any letter case
      {false, "SALE,N1,N2;", ",N", true, "1"},        // first occurrence wins
      {false, "SALE,N1,:AB", ",:", true, "AB"},       // up to the end of the line
      {true, " SALE,N1;", "SALE", false, "old"},
      {true, "XSALE,SALE", "SALE", false, "old"},     // first occurrence not at column 1
      {true, "DISP,:Ciao,N1;", "DISP", true, "Ciao"},  // DISP, PRNT, CLER: from column 7
      {false, "SALE,S2,P1;", ",S", true, "S2"},       // ,S and ,R keep their letter
      {false, "SALE,S1;", ",S1", true, ""},
      {false, "SALE,:abc,sx;", ",S", true, "sx"},     // a key matches inside a text
  };
  for (const auto& c : cases) {
    std::string value = "old";
    EXPECT_EQ(GetField(c.atStart, value, c.line, c.key), c.found) << c.line << " " << c.key;
    EXPECT_EQ(value, c.value) << c.line << " " << c.key;
  }
}

TEST(CodeChecks, AcceptOnlyCodesWithTheRightCheckCharacter) {
  const struct { bool (*check)(std::string_view); const char* text; bool ok; } cases[] = {
      {CheckCodiceFiscale, "RSSMRA85T10A562S", true},
      {CheckCodiceFiscale, "rssmra85t10a562s", true},   // lower case accepted
      {CheckCodiceFiscale, "RSSMRA85T10A562T", false},  // wrong check letter
      // "A" and "0" weigh 1 at odd positions, 0 at even ones: 8 -> "I".
      {CheckCodiceFiscale, "000000000000000I", true},
      // Z weighs 23 at odd, 25 at even positions: 359 % 26 = 21 -> "V".
      {CheckCodiceFiscale, "ZZZZZZZZZZZZZZZV", true},
      {CheckPartitaIva, "01234567897", true},
      {CheckPartitaIva, "01234567890", false},
      {CheckPartitaIva, "01234567897   ", true},  // trailing blanks removed
      {CheckPartitaIva, "", false},
      {CheckPartitaIva, "99999999990", true},  // doubled 9 counts 1 + 8
  };
  for (const auto& c : cases) EXPECT_EQ(c.check(c.text), c.ok) << c.text;
}

}  // namespace
}  // namespace kolibra
