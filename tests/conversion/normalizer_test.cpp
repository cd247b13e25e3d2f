#include "conversion/normalizer.h"

#include <gtest/gtest.h>

#include <string>

namespace kolibra {
namespace {

struct Case {
  const char* in;
  const char* out;
};

TEST(NormalizeRecordLine, RewritesRecords) {
  const Case cases[] = {
      {"SALE,N1,P1000,Q2,:Pane;", "SALE,N1,P1000,Q2,:PANE;"},
      {"sale,n01,p1000,q1.5,:Totale pane;", "SALE,N1,P1000,Q1.500,:TOT.   PANE;"},
      {"CLER;", "CLER;"},
      {"CLER", "CLER;"},
      {"", ""},
      // A comma inside a text splits it; the rest becomes a field of its own.
      {"PRNT,:Pane, burro;", "PRNT,:PANE,B1;"},
      // Kept fields.
      {"PLUD,C0012345ABC,Q2;", "PLUD,C0012345ABC,Q2;"},
      {"LOTT,C[abcd1234];", "LOTT,C[ABCD1234];"},
      {"NDCR,>ab.c,N0012;", "NDCR,>AB.C,N0012;"},
      {"DELD,N1,>AB.C;", "DELD,N1,>AB.C;"},
      {"deld, n01 ,d01/02/20;", "DELD,N01,D01/02/20;"},
      // Percentages of discounts have two decimals, quantities three.
      {"MOST,%10.5;", "MOST,%10.50;"},
      {"DISC,%7.125;", "DISC,%7.12;"},
      {"SALE,Q1.23456;", "SALE,Q1.234;"},
      {"SALE,Q.5;", "SALE,Q0.500;"},
      {"MOST,V10,5;", "MOST,V10,51;"},
      // Digit clean-up: keys without digits get 1, except R and S.
      {"SALE,N,R,S,P;", "SALE,N1,R,S,P1;"},
      {"TEND,N 2 ,V1.000,00;", "TEND,N2,V1,00;"},
      {"SALE,P-12abc;", "SALE,P12;"},
      {"BARC,T1,D01/02/20;", "BARC,T1,D010220;"},
      // Numbers in normal form only where keyword and key ask for it.
      {"SALE,N01,P10.50;", "SALE,N1,P10.5;"},
      {"SALE,P1.2.3;", "SALE,P1.2;"},
      {"SALE,P.;", "SALE,P0;"},
      {"TEND,N004,V0100;", "TEND,N4,V100;"},
      {"CLER,N007;", "CLER,N007;"},
      {"SALE,P12345678901234567890;", "SALE,P12345678901234600000;"},
      {"SALE,P999999999999999.9;", "SALE,P1000000000000000;"},
      {"SALE,P0.99999999999999999;", "SALE,P1;"},
      {"SALE,P0.000123456789012345678;", "SALE,P0.000123456789012346;"},
      // Empty fields vanish with their comma; a trailing one leaves a comma.
      {"SALE,N1,", "SALE,N1,;"},
      {",N1", "N1;"},
      {"SALE,   ,N1", "SALE,1,N1;"},
      {"DELD,  ,N1", "DELD,N1;"},
      // Keyword cut to four characters and put in capitals.
      {"prntx,:a", "PRNT,:A;"},
      // Texts: lone colon, width, characters before the colon dropped.
      {"PRNT,:", "PRNT,: ;"},
      {"PRNT,N1:abc;", "PRNT,:ABC;"},
      {"PRNT,:0123456789012345678901234567890123456789;", "PRNT,:012345678901234567890123456789;"},
      {"PRNT,:a;b", "PRNT,:A;B"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NormalizeRecordLine(c.in, 30), c.out) << "input: " << c.in;
  }
}

TEST(NormalizeRecordLine, ReplacesCharactersOfTexts) {
  const Case cases[] = {
      {"PRNT,:a\xe4" "b", "PRNT,:AAEB;"},      // ä upper-cased to Ä gives AE
      {"PRNT,:pane & latte", "PRNT,:PANE e LATTE;"},
      {"PRNT,:\x80 5", "PRNT,:E 5;"},
      {"PRNT,:a\tb", "PRNT,:AB;"},
      {"PRNT,:\xe0\xe8\xe9\xec\xf2\xf9", "PRNT,:AEEIOU;"},
      {"PRNT,:\xc0\xc1\xc3\xc8\xc9\xcc\xcd\xd2\xd3\xd9\xda", "PRNT,:AAEEEIIOOUU;"},
      {"PRNT,:\xf6\xd6\xfc\xdc\xc4", "PRNT,:OEOEUEUEAE;"},
      {"PRNT,:\x82\x85\x87\x88\x8a\x8d\x95\x97\x9c", "PRNT,:eaceeiouL;"},
      // Upper-cased õ and ø are no longer in the table.
      {"PRNT,:\xf5\xf8", "PRNT,:\xd5\xd8;"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NormalizeRecordLine(c.in, 30), c.out) << "input: " << c.in;
  }
}

TEST(NormalizeRecordLine, CutsTextsAfterReplacementAndToTheGivenWidth) {
  // Replacements that lengthen the text are cut afterwards.
  EXPECT_EQ(NormalizeRecordLine("PRNT,:" + std::string(29, 'x') + "\xe4", 30),
            "PRNT,:" + std::string(29, 'X') + "A;");
  EXPECT_EQ(NormalizeRecordLine("PRNT,:abcdef", 3), "PRNT,:ABC;");
  EXPECT_EQ(NormalizeRecordLine("PRNT,:abcdef", 0), "PRNT,: ;");
  EXPECT_EQ(NormalizeRecordLine("PRNT,:abcdef", -5), "PRNT,: ;");
}

TEST(NormalizeRecordLine, KeepsBytesNotAsciiAndNulIntact) {
  const std::string in("PRNT,:a\0b", 9);
  EXPECT_EQ(NormalizeRecordLine(in, 30), std::string("PRNT,:A\0B;", 10));
}

TEST(NumberNormalForm, WritesCanonicalDecimals) {
  const Case cases[] = {
      {"10.50", "10.5"}, {"01", "1"},      {"0", "0"},     {"", "0"},         {"abc", "0"},
      {".5", "0.5"},     {"5.", "5"},      {"1,25", "1.25"}, {"000.000", "0"}, {"12x3", "12"},
      {"123456789012345", "123456789012345"},
      {"1234567890123456", "1234567890123460"},
      {"0.1234567890123456", "0.123456789012346"},
      {"99999999999999999", "100000000000000000"},
  };
  for (const Case& c : cases) EXPECT_EQ(NumberNormalForm(c.in), c.out) << "input: " << c.in;
}

TEST(NormalizeRecordLine, HandlesHugeFieldsInLinearSpace) {
  const std::string digits(1 << 20, '7');
  const std::string out = NormalizeRecordLine("SALE,P" + digits, 30);
  ASSERT_EQ(out.size(), std::size_t{6 + (1 << 20) + 1});
  EXPECT_EQ(out.substr(0, 21), "SALE,P777777777777778");
  EXPECT_EQ(out.find_first_not_of('0', 21), out.size() - 1);

  const std::string text = NormalizeRecordLine("PRNT,:" + std::string(1 << 20, 'a'), 30);
  EXPECT_EQ(text, "PRNT,:" + std::string(30, 'A') + ";");
}

}  // namespace
}  // namespace kolibra
