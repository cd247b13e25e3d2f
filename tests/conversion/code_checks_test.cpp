#include "conversion/code_checks.h"

#include <gtest/gtest.h>

namespace kolibra {
namespace {

TEST(CodeChecks, AcceptOnlyCodesWithTheRightCheckCharacter) {
  struct Case {
    bool (*check)(std::string_view);
    const char* text;
    bool ok;
  } cases[] = {
      {CheckCodiceFiscale, "RSSMRA85T10A562S", true},
      {CheckCodiceFiscale, "rssmra85t10a562s", true},   // lower case accepted
      {CheckCodiceFiscale, "RSSMRA85T10A562T", false},  // wrong check letter
      {CheckCodiceFiscale, "RSSMRA85T10A562", false},
      {CheckCodiceFiscale, "RSSMRA85T10A562SX", false},
      {CheckCodiceFiscale, "RSSMRA85T10A562\xd3", false},
      // Odd positions weigh 1 for "A" and "0", even ones 0: 8 -> "I".
      {CheckCodiceFiscale, "000000000000000I", true},
      // Z weighs 23 at odd, 25 at even positions: 359 % 26 = 21 -> "V".
      {CheckCodiceFiscale, "ZZZZZZZZZZZZZZZV", true},
      {CheckPartitaIva, "01234567897", true},
      {CheckPartitaIva, "01234567890", false},
      {CheckPartitaIva, "01234567897   ", true},  // trailing blanks removed
      {CheckPartitaIva, " 01234567897", false},
      {CheckPartitaIva, "0123456789A", false},
      {CheckPartitaIva, "", false},
      // Doubled 9 at even positions counts 1 + 8 = 9: 90 -> 0.
      {CheckPartitaIva, "99999999990", true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.check(c.text), c.ok) << c.text;
}

}  // namespace
}  // namespace kolibra
