// A serial port on a Windows COM device: overlapped I/O, no flow control of
// any kind (the ECR's XON/XOFF bytes reach the logic as data), reads that
// return at once with what is waiting.
//
// Arrivals are noticed with an overlapped read of one byte kept pending
// while the port is open; its event is what the loop watches. (An overlapped
// WaitCommEvent would do on Windows, but Wine ends it at once on a
// pseudo-terminal and otherwise polls for it in a thread.)
#pragma once

#include <windows.h>

#include <string>

#include "platform/serial_port.h"
#include "platform/serial_settings.h"
#include "platform/win32/win32_event_loop.h"
#include "platform/win32/win32_owned_handle.h"

namespace kolibra {

class Win32SerialPort : public ConfiguredSerialPort {
 public:
  static constexpr int kMaxPortNumber = kMaxSerialPortNumber;
  // Longest time a write may go without being taken by the driver.
  static constexpr int kWriteStallMs = 2000;

  explicit Win32SerialPort(Win32EventLoop& loop) : loop_(loop) {}
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  // A port number and settings text as CheckSerialConfig takes them;
  // anything else is refused, as is any change while the port is open.
  // Opens \\.\COMn exclusively. While open, the loop wakes when input
  // arrives; after such a wake-up it waits for ReadAll (or an empty
  // InputCount) before it watches again, so input left unread cannot make
  // the loop spin.
  Status Open() override;
  void Close() override;
  bool IsOpen() override { return static_cast<bool>(port_); }
  // Blocks until the driver has taken every byte; fails when it does not
  // within the time the bytes need at the line speed plus kWriteStallMs.
  Status Write(const std::string& bytes) override;
  std::string ReadAll() override;
  int InputCount() override;

  // "\\.\COMn": the form that also reaches COM10 and above.
  static std::string DeviceName(int portNumber);

 private:
  // Starts the overlapped one-byte read that wakes the loop when input
  // arrives, unless it is pending or holds a byte not yet taken.
  void Arm();
  // Takes the result of the one-byte read if it has ended, without waiting.
  void Collect();
  // Bytes in the driver's input queue; also clears line errors.
  DWORD QueuedInput();

  Win32EventLoop& loop_;
  OwnedHandle port_;
  OwnedHandle readyEvent_;  // manual reset, ends the one-byte read; watched while open
  OwnedHandle ioEvent_;     // manual reset, for the other reads and the writes
  OVERLAPPED aheadOv_ = {};
  char aheadByte_ = 0;
  bool aheadPending_ = false;  // the one-byte read is under way
  bool aheadHeld_ = false;     // aheadByte_ arrived and is the oldest input byte
  // The one-byte read ended without a byte (the device failed or went away):
  // it is not started again until the port is reopened, as it would end at
  // once every time and make the loop spin.
  bool failed_ = false;
  Win32EventLoop::WatchId watch_ = 0;
};

}  // namespace kolibra
