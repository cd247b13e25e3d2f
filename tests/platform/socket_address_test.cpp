#include "platform/tcp_socket_core.h"

#include <gtest/gtest.h>

namespace kolibra {
namespace {

TEST(SocketAddressTest, DottedDecimalOnly) {
  const struct {
    const char* text;
    bool ok;
    uint32_t value;
  } cases[] = {
      {"127.0.0.1", true, 0x7F000001},
      {"192.168.001.010", true, 0xC0A8010A},  // leading zeros as operators type them
      {"255.255.255.255", true, 0xFFFFFFFF},
      {"0.0.0.0", true, 0},
      {"", false, 0},
      {"1.2.3", false, 0},
      {"1.2.3.4.5", false, 0},
      {"256.1.1.1", false, 0},
      {"0001.1.1.1", false, 0},
      {"1..2.3", false, 0},
      {"1.2.3.4 ", false, 0},
      {" 1.2.3.4", false, 0},
      {"-1.2.3.4", false, 0},
      {"ecr.local", false, 0},
  };
  for (const auto& c : cases) {
    uint32_t value = 12345;
    EXPECT_EQ(SocketAddress(c.text, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

}  // namespace
}  // namespace kolibra
