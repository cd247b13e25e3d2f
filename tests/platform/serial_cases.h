// Serial-port cases every real port passes, whatever system it runs on.
#pragma once

#include <gtest/gtest.h>

namespace kolibra::testing {

// Configure takes the known rates and port numbers only; refusals leave the
// last accepted port.
template <typename Port>
void ExpectConfigureTakesKnownRatesAndPortNumbersOnly(Port& port) {
  const struct {
    int portNumber;
    const char* settings;
    bool ok;
  } cases[] = {
      {1, "300,N,8,1", true},     {255, "230400,o,7,2", true}, {0, "9600,N,8,1", false},
      {256, "9600,N,8,1", false}, {1, "1234,N,8,1", false},   {1, "460800,N,8,1", false},
      {1, "9600,X,8,1", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(port.Configure(c.portNumber, c.settings), c.ok) << c.portNumber << " " << c.settings;
  }
  EXPECT_EQ(port.PortNumber(), 255);
}

}  // namespace kolibra::testing
