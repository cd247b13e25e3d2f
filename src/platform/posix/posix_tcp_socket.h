// A non-blocking IPv4 TCP client with the states and events of a window
// socket control. Every event is delivered inside EventLoop::Wait(), never
// from inside a call of the logic.
//
// Error numbers of the error event:
//   ECONNABORTED, EPIPE and the peer's orderly close -> 10053
//   ECONNRESET -> 10054, ENETUNREACH -> 10051, ETIMEDOUT -> 10060,
//   ECONNREFUSED -> 10061, EHOSTUNREACH -> 10065,
//   a remote host that is not an IPv4 address -> 11001 ("Host not found"),
//   any other errno -> the errno value itself with its strerror() text.
// The status of the error event is the socket state when the error happened
// (6 while connecting, 7 when connected); the state is then error (9) until
// Close().
#pragma once

#include <string>

#include "platform/posix/posix_event_loop.h"
#include "platform/tcp_socket_core.h"

namespace kolibra {

// The number and description reported for an errno value.
int SocketErrorNumber(int err);
std::string SocketErrorText(int err);

class PosixTcpSocket : public TcpSocketCore {
 public:
  explicit PosixTcpSocket(PosixEventLoop& loop) : loop_(loop) {}
  ~PosixTcpSocket() override;

 private:
  void Open(uint32_t address) override;
  void ReleaseHandle() override;
  void Flush() override;
  void Defer(std::function<void()> fn) override { loop_.Defer(std::move(fn)); }
  void OnReady(short revents);
  void Receive();
  void UpdateWatch();
  // The error of an errno value, reported from a later Wait().
  void FailLaterErrno(int err) { FailLater(SocketErrorNumber(err), SocketErrorText(err)); }

  PosixEventLoop& loop_;
  int fd_ = -1;
  PosixEventLoop::WatchId watch_ = 0;
};

}  // namespace kolibra
