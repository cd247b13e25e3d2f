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

#include <memory>
#include <string>

#include "platform/posix/posix_event_loop.h"
#include "platform/tcp_socket.h"

namespace kolibra {

// The number and description reported for an errno value.
int SocketErrorNumber(int err);
std::string SocketErrorText(int err);

class PosixTcpSocket : public TcpSocket {
 public:
  explicit PosixTcpSocket(PosixEventLoop& loop) : loop_(loop) {}
  ~PosixTcpSocket() override;
  PosixTcpSocket(const PosixTcpSocket&) = delete;
  PosixTcpSocket& operator=(const PosixTcpSocket&) = delete;

  void SetEvents(SocketEvents events) override { events_ = std::move(events); }
  int State() override { return state_; }
  void SetRemoteHost(const std::string& host) override { host_ = host; }
  std::string RemoteHost() override { return host_; }
  void SetRemotePort(int port) override { port_ = port; }
  // Ignored unless the socket is closed.
  void Connect() override;
  // Immediate: the state is closed on return, unsent and unread bytes are
  // dropped and no event of the old connection follows.
  void Close() override;
  // Queues the bytes; they are written as the connection accepts them.
  bool Send(const std::string& bytes) override;
  std::string GetData() override;

  // Bytes queued and not yet handed to the connection.
  std::size_t PendingSend() const { return tx_.size(); }

 private:
  void OnReady(short revents);
  void Receive();
  void Flush();
  void UpdateWatch();
  // Drops the connection and reports the error inside the current Wait().
  void Fail(int number, const std::string& description);
  // Reports the error from a later Wait(): used when the logic's own call
  // (Connect, Send) found it.
  void FailLater(int number, const std::string& description);
  void Release();

  PosixEventLoop& loop_;
  SocketEvents events_;
  std::string host_;
  int port_ = 0;
  int state_ = kSocketClosed;
  int fd_ = -1;
  PosixEventLoop::WatchId watch_ = 0;
  unsigned generation_ = 0;  // counts connections, so stale events are dropped
  std::string rx_;
  std::string tx_;
  // Deferred reports hold a weak reference, so a destroyed socket gets none.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace kolibra
