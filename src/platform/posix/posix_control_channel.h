// The control endpoint on POSIX: an AF_UNIX stream socket in a folder that
// only this user may write; mode 0600, or 0660 when the folder lets its group
// in (a service's folder 0750: the members of its group use kolibra ctl). Every connection is non-blocking and
// watched by the event loop; one request is answered per connection, and one
// request at a time (a request whose handler waits lets the loop run, and
// the requests that arrive meanwhile wait for it).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/control_channel_core.h"
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

class PosixControlChannel : public ControlChannelCore {
 public:
  explicit PosixControlChannel(PosixEventLoop& loop);
  ~PosixControlChannel() override;

  ControlOpenResult Open(const std::string& path, Handler handler,
                         const ControlChannelOptions& options) override;
  void Close() override;
  bool IsOpen() const override { return listenFd_ >= 0; }

 private:
  struct Socket {
    int fd = -1;
    PosixEventLoop::WatchId watch = 0;
    std::size_t sent = 0;
  };

  void OnAccept();
  void OnConnReady(ConnId id);
  void ReadRequest(ConnId id);
  void WriteReply(ConnId id) override;
  void ReleaseConn(ConnId id) override;
  void RequestQueued(ConnId id) override;
  int64_t RetryAt() const override;
  void Retry(int64_t now) override;
  void ResumeAccept();

  PosixEventLoop& loop_;
  int listenFd_ = -1;
  PosixEventLoop::WatchId listenWatch_ = 0;
  std::string path_;
  dev_t socketDev_ = 0;   // identity of the socket file this channel made
  ino_t socketIno_ = 0;
  std::map<ConnId, Socket> sockets_;
  bool acceptPaused_ = false;  // out of descriptors: accepting again at acceptRetryAt_
  int64_t acceptRetryAt_ = 0;
};

}  // namespace kolibra
