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

#include <memory>
#include <string>

#include "platform/tcp_socket.h"
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

class Win32TcpSocket : public TcpSocket {
 public:
  explicit Win32TcpSocket(Win32EventLoop& loop) : loop_(loop) {}
  ~Win32TcpSocket() override;
  Win32TcpSocket(const Win32TcpSocket&) = delete;
  Win32TcpSocket& operator=(const Win32TcpSocket&) = delete;

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
  void OnSocketMessage(WPARAM wParam, LPARAM lParam);
  void Receive(bool closing);
  void Flush();
  // Drops the connection and reports the error inside the current Wait().
  void Fail(int number, const std::string& description);
  // Reports the error from a later Wait(): used when the logic's own call
  // (Connect, Send) found it.
  void FailLater(int number);
  void FailLater(int number, const std::string& description);
  void Release();

  static constexpr UINT_PTR kNoSocket = ~static_cast<UINT_PTR>(0);  // INVALID_SOCKET

  WinsockSession winsock_;  // first: outlives the socket handle
  Win32EventLoop& loop_;
  SocketEvents events_;
  std::string host_;
  int port_ = 0;
  int state_ = kSocketClosed;
  // A SOCKET; kept as its integer type so that this header does not need
  // winsock2.h, which must come before any windows.h of the including file.
  UINT_PTR sock_ = kNoSocket;
  // The notification message of the current connection: a new connection
  // gets it afresh, so notices of an old one are never taken for its own.
  UINT message_ = 0;
  unsigned generation_ = 0;  // counts connections, so stale reports are dropped
  std::string rx_;
  std::string tx_;
  // Deferred reports hold a weak reference, so a destroyed socket gets none.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace kolibra
