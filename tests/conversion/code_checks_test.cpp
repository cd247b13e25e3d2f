#include "conversion/code_checks.h"

#include <gtest/gtest.h>

namespace kolibra {
namespace {

TEST(CheckCodiceFiscale, AcceptsOnlyCodesWithTheRightCheckLetter) {
  struct Case {
    const char* text;
    bool ok;
  } cases[] = {
      {"RSSMRA85T10A562S", true},
      {"rssmra85t10a562s", true},   // lower case accepted
      {"RSSMRA85T10A562T", false},  // wrong check letter
      {"RSSMRA85T10A562", false},   // 15 characters
      {"RSSMRA85T10A562SX", false}, // 17 characters
      {"", false},
      {"RSSMRA85T10A56-S", false},  // not a letter or digit
      {"RSSMRA85T10A562\xd3", false},
      {"AAAAAAAAAAAAAAAB", false},
      // Any arrangement of letters and digits: only the check letter counts.
      // Odd positions of "A" and "0" weigh 1 each (8), even ones 0: 8 = "I".
      {"AAAAAAAAAAAAAAAI", true},
      {"000000000000000I", true},
      {"ZZZZZZZZZZZZZZZ", false},
      // Z at odd positions weighs 23 (8 x 23), at even 25 (7 x 25): 359 % 26 = 21 = "V".
      {"ZZZZZZZZZZZZZZZV", true},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckCodiceFiscale(c.text), c.ok) << c.text;
}

TEST(CheckPartitaIva, AcceptsOnlyNumbersWithTheRightCheckDigit) {
  struct Case {
    const char* text;
    bool ok;
  } cases[] = {
      {"00000000000", true},
      {"01234567897", true},
      {"00743110157", true},
      {"01234567890", false},
      {"01234567897   ", true},   // trailing blanks removed
      {" 01234567897", false},    // leading blank: 12 characters
      {"0123456789", false},
      {"012345678977", false},
      {"0123456789A", false},
      {"", false},
      // Doubled 9 at even positions counts 1 + 8 = 9: sum 45 + 45 = 90 -> 0.
      {"99999999990", true},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckPartitaIva(c.text), c.ok) << c.text;
}

}  // namespace
}  // namespace kolibra
