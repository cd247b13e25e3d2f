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

#include "platform/ipv4_address.h"

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

void PosixTcpSocket::Release() {
  if (watch_ != 0) loop_.Unwatch(watch_);
  watch_ = 0;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  tx_.clear();
}

void PosixTcpSocket::Close() {
  Release();
  rx_.clear();
  state_ = kSocketClosed;
  ++generation_;
}

void PosixTcpSocket::Connect() {
  if (state_ != kSocketClosed) return;
  ++generation_;
  rx_.clear();
  tx_.clear();
  state_ = kSocketConnecting;
  uint32_t addr = 0;
  if (!ParseIpv4Address(host_, &addr)) {
    FailLater(kSocketErrHostNotFound, "Host not found");
    return;
  }
  if (port_ < 1 || port_ > 65535) {
    FailLater(SocketErrorNumber(EINVAL), SocketErrorText(EINVAL));
    return;
  }
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    const int err = errno;
    FailLater(SocketErrorNumber(err), SocketErrorText(err));
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
    const int err = errno;
    FailLater(SocketErrorNumber(err), SocketErrorText(err));
    return;
  }
  // Connected or in progress: writability tells, inside Wait().
  watch_ = loop_.Watch(fd_, POLLOUT, [this](short revents) { OnReady(revents); });
}

bool PosixTcpSocket::Send(const std::string& bytes) {
  if (state_ != kSocketConnected) return false;
  tx_ += bytes;
  Flush();
  return state_ == kSocketConnected;
}

std::string PosixTcpSocket::GetData() {
  std::string out;
  out.swap(rx_);
  return out;
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
    const int err = n < 0 ? errno : EPIPE;
    FailLater(SocketErrorNumber(err), SocketErrorText(err));
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
    state_ = kSocketConnected;
    UpdateWatch();
    if (events_.onConnected) {
      auto fn = events_.onConnected;
      fn();
    }
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
  const unsigned gen = generation_;
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
  // Bytes first, then the end of the connection, as they came.
  if (fresh > 0 && events_.onDataArrival) {
    auto fn = events_.onDataArrival;
    fn(rx_.size());
    if (gen != generation_ || state_ != kSocketConnected) return;  // closed by the handler
  }
  if (eof) {
    Fail(kSocketErrAborted, "Connection closed by peer");
  } else if (err != 0) {
    Fail(SocketErrorNumber(err), SocketErrorText(err));
  }
}

void PosixTcpSocket::Fail(int number, const std::string& description) {
  const int status = state_;
  Release();
  state_ = kSocketError;
  if (events_.onError) {
    auto fn = events_.onError;
    fn(number, description, status);
  }
}

void PosixTcpSocket::FailLater(int number, const std::string& description) {
  const int status = state_;
  Release();
  state_ = kSocketError;
  const unsigned gen = generation_;
  std::weak_ptr<int> alive = alive_;
  loop_.Defer([this, alive, gen, number, description, status] {
    if (alive.expired()) return;
    if (gen != generation_ || state_ != kSocketError) return;  // closed meanwhile
    if (events_.onError) {
      auto fn = events_.onError;
      fn(number, description, status);
    }
  });
}

}  // namespace kolibra
