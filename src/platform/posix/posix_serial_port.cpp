#include "platform/posix/posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace kolibra {
namespace {

// The terminal codes of the rates CheckSerialConfig takes.
struct BaudEntry {
  int rate;
  speed_t code;
};
constexpr BaudEntry kBauds[] = {
    {300, B300},     {600, B600},     {1200, B1200},     {2400, B2400},
    {4800, B4800},   {9600, B9600},   {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400},
};

bool BaudCode(int rate, speed_t* code) {
  for (const BaudEntry& b : kBauds) {
    if (b.rate == rate) {
      *code = b.code;
      return true;
    }
  }
  return false;
}

// Closes fd, keeping the reason of the call that failed before.
Status CloseFailed(int fd) {
  const Status failure = LastOsError();
  close(fd);
  return failure;
}

}  // namespace

PosixSerialPort::~PosixSerialPort() { Close(); }

std::string PosixSerialPort::DevicePath(int portNumber) const {
  auto it = devices_.find(portNumber);
  if (it != devices_.end()) return it->second;
  return "/dev/ttyS" + std::to_string(portNumber - 1);
}

Status PosixSerialPort::Open() {
  if (IsOpen()) return Status::Ok();
  const std::string path = DevicePath(portNumber_);
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return LastOsError();
  struct termios tio;
  speed_t code = B9600;
  BaudCode(line_.baud, &code);
  if (tcgetattr(fd, &tio) != 0) return CloseFailed(fd);
  cfmakeraw(&tio);
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  tio.c_cflag |= CLOCAL | CREAD | (line_.dataBits == 7 ? CS7 : CS8);
  if (line_.parity != 'N') tio.c_cflag |= PARENB | (line_.parity == 'O' ? PARODD : 0);
  if (line_.stopBits == 2) tio.c_cflag |= CSTOPB;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, code) != 0 || cfsetospeed(&tio, code) != 0 ||
      tcsetattr(fd, TCSANOW, &tio) != 0) {
    return CloseFailed(fd);
  }
  // A new session starts with an empty input queue.
  tcflush(fd, TCIFLUSH);
  // Nobody else opens the port while the driver uses it.
  ioctl(fd, TIOCEXCL);
  fd_ = fd;
  hungUp_ = false;
  watch_ = loop_.Watch(fd_, POLLIN, [this](short revents) {
    // Readiness is reported once; ReadAll arms the watch again, unless the
    // device hung up (it would report readiness for ever).
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) hungUp_ = true;
    loop_.SetWatchEvents(watch_, 0);
  });
  return Status::Ok();
}

void PosixSerialPort::Close() {
  if (!IsOpen()) return;
  loop_.Unwatch(watch_);
  watch_ = 0;
  ioctl(fd_, TIOCNXCL);
  close(fd_);
  fd_ = -1;
  hungUp_ = false;
}

void PosixSerialPort::Rearm() {
  if (IsOpen() && !hungUp_) loop_.SetWatchEvents(watch_, POLLIN);
}

Status PosixSerialPort::Write(const std::string& bytes) {
  if (!IsOpen()) return Status::Failed(kSerialPortClosed);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return LastOsError();
    // The output queue is full: wait for room, but not without bound.
    struct pollfd p = {fd_, POLLOUT, 0};
    int r;
    do {
      r = poll(&p, 1, kWriteStallMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return LastOsError();
    if (r == 0) return OsError(ETIMEDOUT);
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return OsError(EIO);
  }
  return Status::Ok();
}

std::string PosixSerialPort::ReadAll() {
  std::string out;
  if (!IsOpen()) return out;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n > 0) {
      out.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // Raw mode with no minimum returns 0 when the queue is empty; an error
    // such as EIO means the device went away (a pty whose other side closed).
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) hungUp_ = true;
    if (n == 0) {
      struct pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) hungUp_ = true;
    }
    break;
  }
  Rearm();
  return out;
}

int PosixSerialPort::InputCount() {
  if (!IsOpen()) return 0;
  int count = 0;
  if (ioctl(fd_, FIONREAD, &count) != 0 || count < 0) count = 0;
  if (count == 0) Rearm();
  return count;
}

}  // namespace kolibra
