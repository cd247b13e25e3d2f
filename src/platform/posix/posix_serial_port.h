// A serial port on a termios device: raw mode, no flow control of any kind
// (the ECR's XON/XOFF bytes reach the logic as data), non-blocking reads.
#pragma once

#include <map>
#include <string>

#include "platform/posix/posix_event_loop.h"
#include "platform/serial_port.h"
#include "platform/serial_settings.h"

namespace kolibra {

class PosixSerialPort : public ConfiguredSerialPort {
 public:
  static constexpr int kMaxPortNumber = kMaxSerialPortNumber;

  explicit PosixSerialPort(PosixEventLoop& loop) : loop_(loop) {}
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  // A port number and settings text as CheckSerialConfig takes them;
  // anything else is refused, as is any change while the port is open.
  // Opens the configured port's device. While open, the loop wakes when input
  // arrives; after such a wake-up it waits for ReadAll before it watches
  // again, so input left unread cannot make the loop spin.
  Status Open() override;
  void Close() override;
  bool IsOpen() override { return fd_ >= 0; }
  // Blocks until every byte is handed to the driver; gives up when the
  // device accepts nothing for kWriteStallMs.
  Status Write(const std::string& bytes) override;
  std::string ReadAll() override;
  int InputCount() override;

  // COMn is the device "/dev/ttyS<n-1>" unless set here.
  void SetDevicePath(int portNumber, const std::string& path) { devices_[portNumber] = path; }
  std::string DevicePath(int portNumber) const;

  static constexpr int kWriteStallMs = 2000;

 private:
  void Rearm();

  PosixEventLoop& loop_;
  std::map<int, std::string> devices_;
  int fd_ = -1;
  PosixEventLoop::WatchId watch_ = 0;
  bool hungUp_ = false;  // the device reported end of input (a closed pty)
};

}  // namespace kolibra
