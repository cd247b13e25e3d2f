// What a control endpoint does the same on every system: each connection's
// phase, request and deadline, the queue that runs one handler at a time,
// and the answers the channel gives by itself. A system's channel derives
// from it and adds only the calls that accept, read, write and close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>

#include "platform/control_channel.h"
#include "platform/event_loop.h"

namespace kolibra {

class ControlChannelCore : public ControlChannel {
 public:
  ControlChannelCore(const ControlChannelCore&) = delete;
  ControlChannelCore& operator=(const ControlChannelCore&) = delete;

  // Connections now held (for tests).
  std::size_t ConnectionCount() const { return conns_.size(); }

 protected:
  using ConnId = uint64_t;
  enum class Phase { kReading, kQueued, kWriting, kDraining };
  struct Conn {
    RequestLineBuffer request;
    Phase phase = Phase::kReading;
    std::string out;  // the answer, kept until the connection goes
    int64_t deadline = 0;
    std::string client;  // who connected, as the system tells; empty: unknown
    explicit Conn(std::size_t limit) : request(limit) {}
  };

  explicit ControlChannelCore(EventLoop& loop);

  // Takes the handler and options of a channel that opens.
  void Begin(Handler handler, const ControlChannelOptions& options);
  // Drops every connection and every queued request; a handler that runs
  // now finds its channel closed when it returns.
  void DropAll();
  // No room for another connection, or for another of client's (an unknown
  // client, empty, counts only towards maxConnections).
  bool Full(const std::string& client = {}) const;
  // A new connection of client, reading its request within the client time-out.
  ConnId AddConn(std::string client = {});
  Conn* Find(ConnId id);
  // Bytes of the request arrived; true while more are to be read.
  bool TakeRequestBytes(ConnId id, std::string_view bytes);
  // Sends the answer within the client time-out.
  void StartReply(ConnId id, std::string reply);
  void Drop(ConnId id);
  void ArmDeadlineTimer();

  // The system's part: starts writing Find(id)->out; closes the
  // connection's handles (called before its state goes); stops reading a
  // connection whose request waits in the queue.
  virtual void WriteReply(ConnId id) = 0;
  virtual void ReleaseConn(ConnId id) = 0;
  virtual void RequestQueued(ConnId /*id*/) {}
  // When the system wants another try at listening (kNever: it does not),
  // and that try.
  virtual int64_t RetryAt() const;
  virtual void Retry(int64_t /*now*/) {}

  Handler handler_;
  ControlChannelOptions options_;

 private:
  void RunQueue();
  void OnDeadline();

  EventLoop& eventLoop_;
  EventLoop::TimerId deadlineTimer_ = -1;
  std::map<ConnId, Conn> conns_;
  ConnId nextConn_ = 1;
  std::deque<ConnId> queue_;
  bool handling_ = false;    // a handler is running
  uint64_t generation_ = 0;  // bumped by DropAll(), so that a running handler sees it
};

}  // namespace kolibra
