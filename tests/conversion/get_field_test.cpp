#include <gtest/gtest.h>

#include "conversion/conversion_state.h"

namespace kolibra {
namespace {

TEST(GetField, FindsValuesWithItsQuirks) {
  struct Case {
    bool atStart;
    const char* line;
    const char* key;
    bool found;
    const char* value;  // "old": left unchanged
  } cases[] = {
      {false, "SALE,N1,P1000;", ",P", true, "1000"},
      {false, "sale,n1,p1000;", ",P", true, "1000"},  // any letter case
      {false, "SALE,N1,P1000;", ",Q", false, "old"},
      {false, "SALE,N1,N2;", ",N", true, "1"},        // first occurrence wins
      {false, "SALE,N1,:AB", ",:", true, "AB"},       // up to the end of the line
      {true, " SALE,N1;", "SALE", false, "old"},
      {true, "XSALE,SALE", "SALE", false, "old"},     // first occurrence not at column 1
      // DISP, PRNT and CLER values begin at column 7.
      {true, "DISP,:Ciao,N1;", "DISP", true, "Ciao"},
      {false, "XXXXXXPRNT;", "PRNT", true, "PRNT"},
      // The value of ,S and ,R starts with the letter itself.
      {false, "SALE,S2,P1;", ",S", true, "S2"},
      {false, "SALE,R,P1;", ",R", true, "R"},
      {false, "SALE,S1;", ",S1", true, ""},
      // A key matches inside another field's text.
      {false, "SALE,:abc,sx;", ",S", true, "sx"},
  };
  for (const Case& c : cases) {
    std::string value = "old";
    EXPECT_EQ(GetField(c.atStart, value, c.line, c.key), c.found) << c.line << " " << c.key;
    EXPECT_EQ(value, c.value) << c.line << " " << c.key;
  }
}

}  // namespace
}  // namespace kolibra
