// One serial port control shared by the four port slots: it is re-targeted
// to a slot's port (COMn) before each job or dump.
#pragma once

#include <string>

#include "platform/status.h"

namespace kolibra {

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Selects port number n (COMn) and the line settings "<baud>,N,8,1", raw
  // mode, no handshaking, reads return everything waiting. Does not open the
  // port. Refused when the port is open, n is out of range, or the settings
  // text is not understood.
  virtual Status Configure(int portNumber, const std::string& settings) = 0;
  // Opens the configured port; a failure carries the system's reason.
  virtual Status Open() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() = 0;
  // Writes every byte; fails when the port is not open or the write fails.
  virtual Status Write(const std::string& bytes) = 0;
  // Every byte waiting in the input queue (empty when none or not open).
  virtual std::string ReadAll() = 0;
  // Number of bytes waiting in the input queue.
  virtual int InputCount() = 0;
};

}  // namespace kolibra
