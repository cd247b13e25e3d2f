#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/serial_settings.h"

namespace kolibra {
namespace {

TEST(SerialSettingsTest, Table) {
  struct Case {
    std::string text;
    bool ok;
    int baud = 0;
    char parity = 0;
    int dataBits = 0;
    int stopBits = 0;
  };
  const Case cases[] = {
      {"9600,N,8,1", true, 9600, 'N', 8, 1},
      {"115200,e,7,2", true, 115200, 'E', 7, 2},
      {"0001200,o,8,1", true, 1200, 'O', 8, 1},
      {"1234,N,8,1", true, 1234, 'N', 8, 1},  // any rate: the port decides
      {"9999999,N,8,1", true, 9999999, 'N', 8, 1},
      {"", false},              {"9600,N,8", false},      {"9600,N,8,1,", false},
      {"9600,N,8,1,1", false},  {"12345678,N,8,1", false}, {",N,8,1", false},
      {"-9600,N,8,1", false},   {"+9600,N,8,1", false},   {" 9600,N,8,1", false},
      {"96O0,N,8,1", false},    {"9600,,8,1", false},     {"9600,NN,8,1", false},
      {"9600,M,8,1", false},    {"9600,\xce,8,1", false}, {"9600,N,08,1", false},
      {"9600,N,6,1", false},    {"9600,N,8,3", false},    {"9600,N,8,1 ", false},
  };
  for (const Case& c : cases) {
    const std::optional<SerialSettings> s = ParseSerialSettings(c.text);
    ASSERT_EQ(s.has_value(), c.ok) << c.text;
    if (!s) continue;
    EXPECT_EQ(s->baud, c.baud) << c.text;
    EXPECT_EQ(s->parity, c.parity) << c.text;
    EXPECT_EQ(s->dataBits, c.dataBits) << c.text;
    EXPECT_EQ(s->stopBits, c.stopBits) << c.text;
  }
}

}  // namespace
}  // namespace kolibra
