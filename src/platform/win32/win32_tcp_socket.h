// A non-blocking IPv4 TCP client with the states and events of a window
// socket control, notified through WSAAsyncSelect on the loop's window.
// Every event is delivered inside EventLoop::Wait(), never from inside a
// call of the logic.
//
// Error numbers of the error event are the Winsock numbers (10053, 10054,
// 10060, 10061, 10065, ...); the peer's orderly close is 10053 ("Connection
// closed by peer") and a remote host that is not an IPv4 address is 11001
// ("Host not found"). The numbers the logic knows carry the same
// descriptions as on POSIX; any other keeps the system's text. The status
// of the error event is the socket state when the error happened (6 while
// connecting, 7 when connected); the state is then error (9) until Close().
#pragma once

#include <string>

#include "platform/tcp_socket_core.h"
#include "platform/win32/win32_event_loop.h"

namespace kolibra {

// The description reported for a Winsock error number.
std::string SocketErrorText(int wsaError);

// Winsock started for as long as the object lives.
class WinsockSession {
 public:
  WinsockSession();
  ~WinsockSession();
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  // 0, or the error of WSAStartup.
  int error() const { return error_; }

 private:
  int error_ = 0;
};

class Win32TcpSocket : public TcpSocketCore {
 public:
  explicit Win32TcpSocket(Win32EventLoop& loop) : loop_(loop) {}
  ~Win32TcpSocket() override;

 private:
  void Open(uint32_t address) override;
  void ReleaseHandle() override;
  void Flush() override;
  void Defer(std::function<void()> fn) override { loop_.Defer(std::move(fn)); }
  void OnSocketMessage(WPARAM wParam, LPARAM lParam);
  void Receive(bool closing);
  // The error of a Winsock number, reported from a later Wait().
  void FailLater(int number) { TcpSocketCore::FailLater(number, SocketErrorText(number)); }
  using TcpSocketCore::FailLater;

  static constexpr UINT_PTR kNoSocket = ~static_cast<UINT_PTR>(0);  // INVALID_SOCKET

  WinsockSession winsock_;  // first: outlives the socket handle
  Win32EventLoop& loop_;
  // A SOCKET; kept as its integer type so that this header does not need
  // winsock2.h, which must come before any windows.h of the including file.
  UINT_PTR sock_ = kNoSocket;
  // The notification message of the current connection: a new connection
  // gets it afresh, so notices of an old one are never taken for its own.
  UINT message_ = 0;
};

}  // namespace kolibra
