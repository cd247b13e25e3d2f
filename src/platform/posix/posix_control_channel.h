// The control endpoint on POSIX: an AF_UNIX stream socket in a folder that
// only this user may write; mode 0600, or 0660 when the folder lets its group
// in (a service's folder 0750: the members of its group use kolibra ctl). Every connection is non-blocking and
// watched by the event loop; one request is answered per connection, and one
// request at a time (a request whose handler waits lets the loop run, and
// the requests that arrive meanwhile wait for it).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/control_channel.h"
#include "platform/posix/posix_event_loop.h"

namespace kolibra {

// What a client sees of an endpoint and of the folder that holds it.
struct ControlEndpointFacts {
  uid_t socketUid = 0;
  gid_t socketGid = 0;
  mode_t socketMode = 0;
  uid_t folderUid = 0;
  mode_t folderMode = 0;
};

// Whether the user me, member of groups, may call the endpoint: kOk for its
// own; another user's (root's calls included) only in a folder of that user
// that no one else may write, and, unless me is root, only when the socket
// is shared with a group me belongs to.
ControlCallStatus CheckControlEndpoint(const ControlEndpointFacts& facts, uid_t me,
                                       const std::vector<gid_t>& groups);

class PosixControlChannel : public ControlChannel {
 public:
  explicit PosixControlChannel(PosixEventLoop& loop);
  ~PosixControlChannel() override;
  PosixControlChannel(const PosixControlChannel&) = delete;
  PosixControlChannel& operator=(const PosixControlChannel&) = delete;

  ControlOpenStatus Open(const std::string& path, Handler handler,
                         const ControlChannelOptions& options) override;
  void Close() override;
  bool IsOpen() const override { return listenFd_ >= 0; }

  // Connections now held (for tests).
  std::size_t ConnectionCount() const { return conns_.size(); }

 private:
  enum class Phase { kReading, kQueued, kWriting };
  struct Conn {
    int fd = -1;
    PosixEventLoop::WatchId watch = 0;
    RequestLineBuffer request;
    Phase phase = Phase::kReading;
    std::string out;
    std::size_t sent = 0;
    int64_t deadline = 0;
    explicit Conn(std::size_t limit) : request(limit) {}
  };
  using ConnId = uint64_t;

  void OnAccept();
  void OnConnReady(ConnId id, short revents);
  void ReadRequest(ConnId id);
  void StartReply(ConnId id, std::string reply);
  void WriteReply(ConnId id);
  void RunQueue();
  void Drop(ConnId id);
  void ArmDeadlineTimer();
  void OnDeadline();

  PosixEventLoop& loop_;
  EventLoop::TimerId deadlineTimer_ = -1;
  int listenFd_ = -1;
  PosixEventLoop::WatchId listenWatch_ = 0;
  std::string path_;
  dev_t socketDev_ = 0;   // identity of the socket file this channel made
  ino_t socketIno_ = 0;
  Handler handler_;
  ControlChannelOptions options_;
  std::map<ConnId, Conn> conns_;
  ConnId nextConn_ = 1;
  std::deque<ConnId> queue_;
  bool handling_ = false;  // a handler is running
  bool acceptPaused_ = false;  // out of descriptors: accepting again at acceptRetryAt_
  int64_t acceptRetryAt_ = 0;
  uint64_t generation_ = 0;  // bumped by Close(), so that a running handler sees it
};

}  // namespace kolibra
