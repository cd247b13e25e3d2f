#include "platform/posix/posix_tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kolibra {

int SocketErrorNumber(int err) {
  switch (err) {
    case ECONNABORTED:
    case EPIPE:
      return kSocketErrAborted;
    case ECONNRESET:
      return kSocketErrReset;
    case ENETUNREACH:
      return kSocketErrNetUnreachable;
    case ETIMEDOUT:
      return kSocketErrTimedOut;
    case ECONNREFUSED:
      return kSocketErrRefused;
    case EHOSTUNREACH:
      return kSocketErrHostUnreachable;
    default:
      return err;
  }
}

std::string SocketErrorText(int err) {
  char buf[256];
  // The GNU strerror_r returns the text, which may not be in buf.
  return strerror_r(err, buf, sizeof buf);
}

PosixTcpSocket::~PosixTcpSocket() { Release(); }

void PosixTcpSocket::ReleaseHandle() {
  if (watch_ != 0) loop_.Unwatch(watch_);
  watch_ = 0;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void PosixTcpSocket::Open(uint32_t addr) {
  if (port_ < 1 || port_ > 65535) {
    FailLaterErrno(EINVAL);
    return;
  }
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    FailLaterErrno(errno);
    return;
  }
  // Command lines are short and answered one by one: send them at once.
  int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port_));
  sa.sin_addr.s_addr = htonl(addr);
  int r;
  do {
    r = connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  } while (r != 0 && errno == EINTR);
  if (r != 0 && errno != EINPROGRESS) {
    FailLaterErrno(errno);
    return;
  }
  // Connected or in progress: writability tells, inside Wait().
  watch_ = loop_.Watch(fd_, POLLOUT, [this](short revents) { OnReady(revents); });
}

void PosixTcpSocket::UpdateWatch() {
  if (watch_ == 0) return;
  short events = 0;
  if (state_ == kSocketConnecting) events = POLLOUT;
  if (state_ == kSocketConnected) events = static_cast<short>(POLLIN | (tx_.empty() ? 0 : POLLOUT));
  loop_.SetWatchEvents(watch_, events);
}

void PosixTcpSocket::Flush() {
  while (!tx_.empty()) {
    const ssize_t n = send(fd_, tx_.data(), tx_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      tx_.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    FailLaterErrno(n < 0 ? errno : EPIPE);
    return;
  }
  UpdateWatch();
}

void PosixTcpSocket::OnReady(short revents) {
  if (state_ == kSocketConnecting) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err == 0 && (revents & (POLLERR | POLLHUP))) err = ECONNREFUSED;
    if (err != 0) {
      Fail(SocketErrorNumber(err), SocketErrorText(err));
      return;
    }
    // The watch follows the state before the logic hears of it.
    state_ = kSocketConnected;
    UpdateWatch();
    Connected();
    return;
  }
  if (state_ != kSocketConnected) return;
  if (revents & POLLOUT) {
    Flush();
    if (state_ != kSocketConnected) return;
  }
  if (revents & (POLLIN | POLLHUP | POLLERR)) Receive();
}

void PosixTcpSocket::Receive() {
  std::size_t fresh = 0;
  int err = 0;
  bool eof = false;
  char buf[8192];
  for (;;) {
    const ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      rx_.append(buf, static_cast<std::size_t>(n));
      fresh += static_cast<std::size_t>(n);
      // A short read drained the socket; poll reports anything later (or
      // the peer's close) on the next pass, which saves a read per answer.
      if (static_cast<std::size_t>(n) < sizeof buf) break;
      continue;
    }
    if (n == 0) {
      eof = true;
    } else if (errno == EINTR) {
      continue;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
      err = errno;
    }
    break;
  }
  Received(fresh, eof, err != 0 ? SocketErrorNumber(err) : 0, err != 0 ? SocketErrorText(err) : std::string());
}

}  // namespace kolibra
