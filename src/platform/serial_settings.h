// The line settings text of a serial port, "<baud>,<parity>,<data bits>,
// <stop bits>" such as "9600,N,8,1", read the same way on every system.
#pragma once

#include <optional>
#include <string>

#include "platform/serial_port.h"

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

// The highest port number a serial port takes (COM255, /dev/ttyS254).
constexpr int kMaxSerialPortNumber = 255;

// What every serial port checks before it takes a port number and line
// settings: a port number from 1 to kMaxSerialPortNumber, settings that
// ParseSerialSettings reads, and a baud rate from 300 to 230400 of the
// standard ones. nullopt when any of them is refused.
std::optional<SerialSettings> CheckSerialConfig(int portNumber, const std::string& settings);

// The reason every serial port gives when a write finds it closed.
inline constexpr char kSerialPortClosed[] = "port not open";

// A serial port's configuration, the same on every system: a closed port
// takes a port number and line settings that CheckSerialConfig accepts.
class ConfiguredSerialPort : public SerialPort {
 public:
  Status Configure(int portNumber, const std::string& settings) override;
  int PortNumber() const { return portNumber_; }

 protected:
  int portNumber_ = 1;
  SerialSettings line_;
};

}  // namespace kolibra
