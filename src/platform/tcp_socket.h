// The TCP client connection to the ECR, with the states and events of a
// window socket control. Events are delivered inside EventLoop::Wait().
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/status.h"

namespace kolibra {

// Socket states as the logic tests them.
enum SocketState : int {
  kSocketClosed = 0,
  kSocketConnecting = 6,
  kSocketConnected = 7,
  kSocketError = 9,
};

// Error numbers of the error event, the same on every system; an error with
// none of these numbers keeps the OS number and description.
constexpr int kSocketErrNetUnreachable = 10051;
constexpr int kSocketErrAborted = 10053;
constexpr int kSocketErrReset = 10054;
constexpr int kSocketErrTimedOut = 10060;
constexpr int kSocketErrRefused = 10061;
constexpr int kSocketErrHostUnreachable = 10065;
constexpr int kSocketErrHostNotFound = 11001;

struct SocketEvents {
  std::function<void()> onConnected;
  std::function<void(std::size_t bytesAvailable)> onDataArrival;
  // The error's number, its description as the failure's cause, and the
  // status code (the socket state when it happened).
  std::function<void(int number, const Status& failure, int status)> onError;
};

class TcpSocket {
 public:
  virtual ~TcpSocket() = default;

  virtual void SetEvents(SocketEvents events) = 0;
  virtual int State() = 0;
  virtual void SetRemoteHost(const std::string& host) = 0;
  virtual std::string RemoteHost() = 0;
  virtual void SetRemotePort(int port) = 0;
  // Starts a non-blocking connect; the outcome arrives as an event.
  virtual void Connect() = 0;
  virtual void Close() = 0;
  // Queues the bytes for sending; fails when not connected, or when the
  // connection failed on them (its error event follows).
  virtual Status Send(const std::string& bytes) = 0;
  // Every byte received and not yet fetched.
  virtual std::string GetData() = 0;
};

}  // namespace kolibra
