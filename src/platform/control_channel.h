// The local control endpoint through which an operator's command reaches a
// running driver: a server that takes one request line per connection and
// answers it, and a client call that sends one request and waits for the
// answer. Requests are delivered only inside EventLoop::Wait(), like every
// other event of the driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace kolibra {

struct ControlChannelOptions {
  // Longest request line, its line end not counted.
  std::size_t maxRequestBytes = 512;
  // A client that has not sent its whole request, or not taken its whole
  // answer, this long after it connected or was answered is dropped.
  int64_t clientTimeoutMs = 5000;
  // Connections served at once; more are answered with busyReply and closed.
  int maxConnections = 16;
  // Answers the channel gives by itself: to a request longer than
  // maxRequestBytes, and to a connection beyond maxConnections.
  std::string tooLongReply;
  std::string busyReply;
  // Connections one client (a user on POSIX, a process on Windows) may hold
  // at once; more are answered with busyReply too, so that one client
  // cannot keep the others out.
  int maxPerClient = 4;
};

enum class ControlOpenStatus {
  kOpen,
  kUnsafeFolder,   // the folder is not a folder of this user that only it may write
  kNameTaken,      // something other than a stale socket of this user has the name
  kPathTooLong,
  kFailed,         // the system refused (socket, bind, listen)
  kNotAvailable,   // no control endpoint on this system
};

// What an opening did: kOpen, or why not, with the system's reason when the
// system refused a call (cause stays ok when there was none to give).
struct ControlOpenResult {
  ControlOpenStatus status = ControlOpenStatus::kOpen;
  Status cause;
};

class ControlChannel {
 public:
  // Gets a request line (without its line end; it may hold any bytes but a
  // line feed) and returns the whole answer to send back.
  using Handler = std::function<std::string(std::string_view line)>;

  virtual ~ControlChannel() = default;

  // Listens at path, readable and writable by this user only, and by the
  // endpoint's group too when the folder lets its group in. A stale
  // endpoint of this user at path is replaced, so the caller must hold the
  // single-instance lock of the folder: no other copy can be listening there.
  virtual ControlOpenResult Open(const std::string& path, Handler handler,
                                 const ControlChannelOptions& options) = 0;
  // Stops listening, drops every connection and removes the endpoint.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
};

// Collects the bytes of one request up to its line feed; a CR before the
// line feed is dropped. Whatever follows the line feed is ignored.
class RequestLineBuffer {
 public:
  enum class State { kPartial, kComplete, kTooLong };

  explicit RequestLineBuffer(std::size_t maxBytes) : maxBytes_(maxBytes) {}
  State Add(std::string_view bytes);
  State state() const { return state_; }
  // The request line once complete.
  const std::string& line() const { return line_; }

 private:
  std::size_t maxBytes_;
  std::string line_;
  State state_ = State::kPartial;
};

enum class ControlCallStatus {
  kOk,
  kNoServer,      // nothing listens at the path
  kNotOwner,      // the endpoint belongs to another user and is not shared with this one
  kUnsafeFolder,  // another user's endpoint in a folder that others may write
  kTimedOut,      // no whole answer within the time-out
  kFailed,        // the connection failed or broke off
  kNotAvailable,  // no control endpoint on this system
};

struct ControlCallResult {
  ControlCallStatus status = ControlCallStatus::kFailed;
  std::string reply;  // what the server sent, up to kMaxControlReplyBytes
  Status cause;       // kFailed: the system's reason, when a call gave one
};

inline constexpr std::size_t kMaxControlReplyBytes = 65536;

// What the endpoint at path is called for the operator: the socket's path,
// or on Windows the named pipe that stands for it.
std::string ControlEndpointName(const std::string& path);

// Sends line (a line feed is added) to the endpoint at path and reads the
// answer until the server closes the connection. Blocks for at most
// timeoutMs; meant for a short-lived command, not for the driver's loop.
ControlCallResult SendControlRequest(const std::string& path, std::string_view line,
                                     int64_t timeoutMs);

}  // namespace kolibra
