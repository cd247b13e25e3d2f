#include "conversion/line_converter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "conversion/conversion_state.h"
#include "conversion/record_handlers.h"

namespace kolibra {
namespace {

TEST(LineConverter, ConvertsTheRecordsItKnows) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"SALE,N1,P100,Q3,:PANE;", "\"PANE\"3*100H1R"}, {"SALE;", "ERRO C211"},
      {"CASH,:CONTANTI,V1500;", "\"CONTANTI\"1500H1T"}, {"FUNC,N007;", "7F"},
      {"FUNC,N39;", "ERRO C211"},      {"FUNC,N1.5;", "ERRO C003"},
      {"DISC,%10.50;", "10.50|3M"},     {"MAGG,V100;", "100|8M"},
      {"DOST,%5;", "=5|3M"},            {"MOST;", "ERRO C002"},
      {"DISC,Vabc;", "ERRO C002"},      {"OPEN;", "a"},
      {"EXTL,:TESTO;", "ERRO C211"},    {"   ", "ERRO C211"},
      {"TEND,V100;", "ERRO C004"},      {"XXXX;", "ERRO C001"},
      {"FUNC,N" + std::string(70, '1') + ";", "ERRO C064"},
      {std::string("SALE,N1,P5\0;", 12), "ERRO C005"},
  };
  for (const Case& c : cases) EXPECT_EQ(CallLineConverter(c.in), c.out) << c.in;

  for (const char* record : {"SALE,N2,P2.5,Q3,:LATTE;", "SALE,N1,P100,R;", "SALE,N3,P500,S1,:X;",
                             "PLUD,N1,P1.99;"}) {
    const ConversionSettings settings;
    ConversionState state(settings);
    HandleSale(state, record);
    EXPECT_EQ(CallLineConverter(record), state.lineResult) << record;
  }
}

TEST(LineConverter, CallShapeEndsWithNulAndTakesNoNegativeLength) {
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
}

int32_t AlwaysRefuses(const char*, int32_t, char* output, char*) {
  std::memcpy(output, "erro x", 7);
  return 0;
}

int32_t NeverEndsWithNul(const char*, int32_t, char* output, char*) {
  std::memset(output, 'Z', kLineConverterOutputSize);
  return 0;
}

TEST(LineConverter, AnotherConverterCanBePutInPlace) {
  SetLineConverter(&AlwaysRefuses);
  EXPECT_EQ(CallLineConverter("SALE,N1,P1000;"), "erro x");
  // Output without a NUL is read only up to the buffer's size.
  SetLineConverter(&NeverEndsWithNul);
  EXPECT_EQ(CallLineConverter("CLER;"), std::string(kLineConverterOutputSize, 'Z'));
  SetLineConverter(nullptr);
  EXPECT_EQ(CallLineConverter("CLER;"), "K");
}

}  // namespace
}  // namespace kolibra
