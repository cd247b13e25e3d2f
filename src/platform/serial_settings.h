// The line settings text of a serial port, "<baud>,<parity>,<data bits>,
// <stop bits>" such as "9600,N,8,1", read the same way on every system.
#pragma once

#include <optional>
#include <string>

namespace kolibra {

struct SerialSettings {
  int baud = 9600;
  char parity = 'N';  // 'N', 'E' or 'O'
  int dataBits = 8;   // 7 or 8
  int stopBits = 1;   // 1 or 2
};

// Exactly four comma-separated fields: a baud rate of one to seven decimal
// digits, parity N, E or O in either case, 7 or 8 data bits, 1 or 2 stop
// bits, nothing else (no blanks, no signs). Whether the port supports the
// baud rate is for the port to say. nullopt when the text is not understood.
std::optional<SerialSettings> ParseSerialSettings(const std::string& text);

}  // namespace kolibra
