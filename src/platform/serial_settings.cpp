#include "platform/serial_settings.h"

#include <charconv>

namespace kolibra {
namespace {

// Splits "a,b,c,d" into exactly four fields.
bool SplitFour(const std::string& text, std::string out[4]) {
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t comma = text.find(',', start);
    if (i < 3 && comma == std::string::npos) return false;
    if (i == 3 && comma != std::string::npos) return false;
    out[i] = text.substr(start, i < 3 ? comma - start : std::string::npos);
    start = comma + 1;
  }
  return true;
}

bool AllDigits(const std::string& s) {
  if (s.empty() || s.size() > 7) return false;
  for (unsigned char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

constexpr int kBaudRates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

}  // namespace

std::optional<SerialSettings> ParseSerialSettings(const std::string& text) {
  std::string f[4];
  if (!SplitFour(text, f)) return std::nullopt;
  SerialSettings s;
  if (!AllDigits(f[0])) return std::nullopt;
  // Seven digits at most: always fits, and from_chars takes no locale.
  std::from_chars(f[0].data(), f[0].data() + f[0].size(), s.baud);
  if (f[1].size() != 1) return std::nullopt;
  s.parity = static_cast<char>(f[1][0] & ~0x20);  // ASCII upper case
  if (s.parity != 'N' && s.parity != 'E' && s.parity != 'O') return std::nullopt;
  if (f[2] != "7" && f[2] != "8") return std::nullopt;
  if (f[3] != "1" && f[3] != "2") return std::nullopt;
  s.dataBits = f[2][0] - '0';
  s.stopBits = f[3][0] - '0';
  return s;
}

std::optional<SerialSettings> CheckSerialConfig(int portNumber, const std::string& settings) {
  if (portNumber < 1 || portNumber > kMaxSerialPortNumber) return std::nullopt;
  const std::optional<SerialSettings> line = ParseSerialSettings(settings);
  if (!line) return std::nullopt;
  for (int rate : kBaudRates) {
    if (rate == line->baud) return line;
  }
  return std::nullopt;
}

Status ConfiguredSerialPort::Configure(int portNumber, const std::string& settings) {
  if (IsOpen()) return Status::Failed("port already open");
  const std::optional<SerialSettings> line = CheckSerialConfig(portNumber, settings);
  if (!line) return Status::Failed("port " + std::to_string(portNumber) + " or settings \"" + settings + "\" not supported");
  portNumber_ = portNumber;
  line_ = *line;
  return Status::Ok();
}

}  // namespace kolibra
