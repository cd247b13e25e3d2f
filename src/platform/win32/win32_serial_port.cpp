#include "platform/win32/win32_serial_port.h"

#include <climits>

namespace kolibra {
namespace {

// Line time of one character in bits: start, data, parity and stop bits.
int BitsPerChar(const SerialSettings& line) {
  return 1 + line.dataBits + (line.parity == 'N' ? 0 : 1) + line.stopBits;
}

}  // namespace

Win32SerialPort::~Win32SerialPort() { Close(); }

std::string Win32SerialPort::DeviceName(int portNumber) {
  return "\\\\.\\COM" + std::to_string(portNumber);
}

Status Win32SerialPort::Open() {
  if (IsOpen()) return Status::Ok();
  // No sharing: nobody else opens the port while the driver uses it.
  OwnedHandle port(CreateFileA(DeviceName(portNumber_).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!port) return LastOsError();
  SetupComm(port.get(), 4096, 4096);  // a hint; the driver may keep its own sizes

  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port.get(), &dcb)) return LastOsError();
  dcb.BaudRate = static_cast<DWORD>(line_.baud);
  dcb.ByteSize = static_cast<BYTE>(line_.dataBits);
  dcb.Parity = line_.parity == 'E' ? EVENPARITY : line_.parity == 'O' ? ODDPARITY : NOPARITY;
  dcb.StopBits = line_.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = line_.parity != 'N';
  // No handshaking: XON/XOFF are data for the logic, and the modem lines
  // neither hold the output back nor are driven by the input queue. DTR and
  // RTS are simply raised, as a POSIX open of a terminal device does.
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  // Every byte is delivered as received: no NUL stripping, no error
  // character, and a line error does not stop reads and writes.
  dcb.fNull = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!SetCommState(port.get(), &dcb)) return LastOsError();

  // No read time-outs: a read ends when its bytes are there. The one-byte
  // read waits for the next arrival; the others ask only for bytes already
  // queued. A write may take the line time of its bytes plus kWriteStallMs
  // before the driver gives up on it.
  COMMTIMEOUTS timeouts = {};
  timeouts.WriteTotalTimeoutMultiplier =
      static_cast<DWORD>((BitsPerChar(line_) * 1000 + line_.baud - 1) / line_.baud);
  timeouts.WriteTotalTimeoutConstant = kWriteStallMs;
  if (!SetCommTimeouts(port.get(), &timeouts)) return LastOsError();
  // A new session starts with empty queues.
  PurgeComm(port.get(), PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);

  OwnedHandle readyEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  OwnedHandle ioEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!readyEvent || !ioEvent) return LastOsError();
  port_ = std::move(port);
  readyEvent_ = std::move(readyEvent);
  ioEvent_ = std::move(ioEvent);
  aheadPending_ = false;
  aheadHeld_ = false;
  failed_ = false;
  watch_ = loop_.WatchHandle(readyEvent_.get(), [this] { Collect(); });
  Arm();
  return Status::Ok();
}

void Win32SerialPort::Close() {
  if (!IsOpen()) return;
  loop_.Unwatch(watch_);
  watch_ = 0;
  if (aheadPending_) {
    // The read writes into this object when it ends: let it end first.
    CancelIo(port_.get());
    DWORD n = 0;
    GetOverlappedResult(port_.get(), &aheadOv_, &n, TRUE);
    aheadPending_ = false;
  }
  aheadHeld_ = false;
  port_.Reset();
  readyEvent_.Reset();
  ioEvent_.Reset();
}

void Win32SerialPort::Arm() {
  if (!IsOpen() || aheadPending_ || aheadHeld_ || failed_) return;
  aheadOv_ = {};
  aheadOv_.hEvent = readyEvent_.get();
  if (ReadFile(port_.get(), &aheadByte_, 1, nullptr, &aheadOv_)) {
    // A byte was already there: hold it and make sure the loop wakes.
    DWORD n = 0;
    aheadHeld_ = GetOverlappedResult(port_.get(), &aheadOv_, &n, FALSE) && n == 1;
    failed_ = !aheadHeld_;
    SetEvent(readyEvent_.get());
    return;
  }
  aheadPending_ = GetLastError() == ERROR_IO_PENDING;
  failed_ = !aheadPending_;
}

void Win32SerialPort::Collect() {
  // Reset first: a read that ends after this sets the event again.
  ResetEvent(readyEvent_.get());
  if (!aheadPending_) return;
  DWORD n = 0;
  if (GetOverlappedResult(port_.get(), &aheadOv_, &n, FALSE)) {
    aheadPending_ = false;
    aheadHeld_ = n == 1;
    failed_ = !aheadHeld_;
  } else if (GetLastError() != ERROR_IO_INCOMPLETE) {
    aheadPending_ = false;
    failed_ = true;
  }
  // The next one-byte read starts when the logic has taken the input.
}

DWORD Win32SerialPort::QueuedInput() {
  DWORD errors = 0;
  COMSTAT stat = {};
  if (!ClearCommError(port_.get(), &errors, &stat)) return 0;
  return stat.cbInQue;
}

Status Win32SerialPort::Write(const std::string& bytes) {
  if (!IsOpen()) return Status::Failed(kSerialPortClosed);
  if (bytes.empty()) return Status::Ok();
  if (bytes.size() > MAXDWORD) return OsError(ERROR_INVALID_PARAMETER);
  const DWORD size = static_cast<DWORD>(bytes.size());
  OVERLAPPED ov = {};
  ov.hEvent = ioEvent_.get();
  if (!WriteFile(port_.get(), bytes.data(), size, nullptr, &ov)) {
    if (GetLastError() != ERROR_IO_PENDING) return LastOsError();
    // The driver's own write time-out ends the write first; this bound only
    // guards against a driver that ignores it.
    const unsigned long long lineMs =
        static_cast<unsigned long long>(size) * BitsPerChar(line_) * 1000 / line_.baud;
    const DWORD limit = static_cast<DWORD>(lineMs + 2 * kWriteStallMs);
    if (WaitForSingleObject(ioEvent_.get(), limit) != WAIT_OBJECT_0) {
      CancelIo(port_.get());  // also ends the one-byte read: no more wake-ups
      DWORD n = 0;
      GetOverlappedResult(port_.get(), &ov, &n, TRUE);
      return OsError(ERROR_TIMEOUT);
    }
  }
  DWORD written = 0;
  if (!GetOverlappedResult(port_.get(), &ov, &written, TRUE)) return LastOsError();
  return written == size ? Status::Ok() : OsError(ERROR_TIMEOUT);
}

std::string Win32SerialPort::ReadAll() {
  std::string out;
  if (!IsOpen()) return out;
  Collect();
  // While the one-byte read waits, nothing has arrived: it takes the first
  // byte before any is queued.
  if (aheadPending_) return out;
  if (aheadHeld_) {
    out += aheadByte_;
    aheadHeld_ = false;
  }
  for (DWORD queued = QueuedInput(); queued > 0; queued = QueuedInput()) {
    std::string chunk(queued, '\0');
    OVERLAPPED ov = {};
    ov.hEvent = ioEvent_.get();
    DWORD n = 0;
    // Asks only for what is queued, so it ends at once, pending or not.
    if (!ReadFile(port_.get(), chunk.data(), queued, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING) {
      break;
    }
    if (!GetOverlappedResult(port_.get(), &ov, &n, TRUE) || n == 0) break;
    out.append(chunk.data(), n);
  }
  Arm();
  return out;
}

int Win32SerialPort::InputCount() {
  if (!IsOpen()) return 0;
  Collect();
  if (aheadPending_) return 0;
  const DWORD queued = QueuedInput() + (aheadHeld_ ? 1 : 0);
  if (queued == 0) Arm();
  return queued > static_cast<DWORD>(INT_MAX) ? INT_MAX : static_cast<int>(queued);
}

}  // namespace kolibra
