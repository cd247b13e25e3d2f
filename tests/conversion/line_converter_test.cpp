#include "conversion/line_converter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kolibra {
namespace {

TEST(LineConverter, ConvertsTheRecordsItKnows) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"SALE,N1,P100,Q3,:PANE;", "\"PANE\"3*100H1R"}, {"FUNC,N007;", "7F"},
      {"FUNC,N39;", "ERRO C211"},      {"FUNC,N1.5;", "ERRO C003"},
      {"DISC,%10.50;", "10.50|3M"},     {"MAGG,V100;", "100|8M"},
      {"DISC,Vabc;", "ERRO C002"},      {"TEND,V100;", "ERRO C004"},
      {"XXXX;", "ERRO C001"},           {"FUNC,N" + std::string(70, '1') + ";", "ERRO C064"},
      {std::string("SALE,N1,P5\0;", 12), "ERRO C005"},
  };
  for (const Case& c : cases) EXPECT_EQ(CallLineConverter(c.in), c.out) << c.in;
}

int32_t NeverEndsWithNul(const char*, int32_t, char* output, char*) {
  std::memset(output, 'Z', kLineConverterOutputSize);
  return 0;
}

// The call shape: NUL-ended output, no negative length, and output of a
// replacement converter read only up to the buffer's size.
TEST(LineConverter, CallShapeAndReplacement) {
  char output[kLineConverterOutputSize];
  char error[kLineConverterErrorSize];
  std::memset(output, ' ', sizeof output);
  std::memset(error, ' ', sizeof error);
  const char record[] = "SALE,N1,P1000;";
  ConvertSlToXt(record, static_cast<int32_t>(std::strlen(record)), output, error);
  EXPECT_STREQ(output, "1000H1R");
  ConvertSlToXt(record, -5, output, error);
  EXPECT_STREQ(output, "ERRO C211");
  EXPECT_STREQ(error, "C211");

  SetLineConverter(&NeverEndsWithNul);
  EXPECT_EQ(CallLineConverter("CLER;"), std::string(kLineConverterOutputSize, 'Z'));
  SetLineConverter(nullptr);
  EXPECT_EQ(CallLineConverter("CLER;"), "K");
}

}  // namespace
}  // namespace kolibra
