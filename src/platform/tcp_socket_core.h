// What a TCP client connection does the same on every system: the state,
// the send and receive buffers, the connection count that drops stale
// events, and the order in which events reach the logic. A system's socket
// derives from it and adds only the calls to its own socket API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/tcp_socket.h"

namespace kolibra {

// The address a connection goes to, built from the remote host: four
// decimal parts of one to three digits, each at most 255, separated by dots
// and nothing else. Leading zeros are allowed ("192.168.001.010" is the same
// address as "192.168.1.10"); host names are not resolved. On success stores
// the address in host byte order; otherwise the connection fails with
// "Host not found".
bool SocketAddress(const std::string& host, uint32_t* hostOrder);

class TcpSocketCore : public TcpSocket {
 public:
  TcpSocketCore() = default;
  TcpSocketCore(const TcpSocketCore&) = delete;
  TcpSocketCore& operator=(const TcpSocketCore&) = delete;

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
  Status Send(const std::string& bytes) override;
  std::string GetData() override;

  // Bytes queued and not yet handed to the connection.
  std::size_t PendingSend() const { return tx_.size(); }

 protected:
  static constexpr char kPeerClosed[] = "Connection closed by peer";
  static constexpr char kNotConnected[] = "not connected";

  // The system's part of Connect: the host is a valid IPv4 address (host
  // order) and the state is connecting. Failures go through FailLater.
  virtual void Open(uint32_t address) = 0;
  // Closes the system's handle; no notice of it follows.
  virtual void ReleaseHandle() = 0;
  // Writes what tx_ holds as far as the connection takes it.
  virtual void Flush() = 0;
  // Runs fn from a later pass of the event loop.
  virtual void Defer(std::function<void()> fn) = 0;

  // The connection is up: state connected, then the event.
  void Connected();
  // Reports the bytes a read appended to rx_ (fresh of them), then the end
  // of the connection if the read met one: the peer's close, or the error
  // number (0 for none) with its text. Nothing follows once the handler has
  // closed the socket.
  void Received(std::size_t fresh, bool peerClosed, int errNumber, const std::string& errText);
  // Drops the connection and reports the error inside the current Wait().
  void Fail(int number, const std::string& description);
  // Reports the error from a later Wait(): used when the logic's own call
  // (Connect, Send) found it.
  void FailLater(int number, const std::string& description);
  // Closes the handle and drops unsent bytes; the derived destructor calls it.
  void Release();

  int port_ = 0;
  int state_ = kSocketClosed;
  std::string rx_;
  std::string tx_;

 private:
  SocketEvents events_;
  Status failure_;  // the last error, which a Send that met it returns
  std::string host_;
  unsigned generation_ = 0;  // counts connections, so stale events are dropped
  // Deferred reports hold a weak reference, so a destroyed socket gets none.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace kolibra
