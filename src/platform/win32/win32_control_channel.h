// The control endpoint on Windows: a local named pipe per settings folder,
// \\.\pipe\KolibraCtl-<32 random hex digits>, a new name at each opening,
// written into the endpoint file (the endpoint path, in the settings folder)
// where clients read it: any spelling of the folder finds the same file, and
// nobody can make the pipe before the driver does. The pipe's security
// descriptor lets only this user in and names it the owner; remote clients
// are refused. Each request and each answer is one pipe message. Every
// operation is overlapped, its event watched by the event loop: no thread.
// One request is answered per connection, one request at a time (a request
// whose handler waits lets the loop run; the requests that arrive meanwhile
// wait for it).
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/control_channel_core.h"
#include "platform/win32/win32_event_loop.h"
#include "platform/win32/win32_owned_handle.h"

namespace kolibra {

// The pipe named in the endpoint file at path; empty when there is none.
std::string ControlPipeName(const std::string& path);

class Win32ControlChannel : public ControlChannelCore {
 public:
  explicit Win32ControlChannel(Win32EventLoop& loop);
  ~Win32ControlChannel() override;

  ControlOpenResult Open(const std::string& path, Handler handler,
                         const ControlChannelOptions& options) override;
  void Close() override;
  bool IsOpen() const override { return open_; }

 private:
  // One pipe instance with its one overlapped operation.
  struct Instance {
    OwnedHandle pipe;
    OwnedHandle event;
    OVERLAPPED ov{};
    bool pending = false;  // an operation is in flight
    Win32EventLoop::WatchId watch = 0;
    char buf[1024];
  };

  // A new listening instance, its connect started; false when refused.
  bool Listen(bool first);
  void OnListenerSignaled();
  void Accepted(std::unique_ptr<Instance> inst);
  void OnConnSignaled(ConnId id);
  void StartRead(ConnId id);
  void WriteReply(ConnId id) override;
  void ReleaseConn(ConnId id) override;
  int64_t RetryAt() const override;
  void Retry(int64_t now) override;
  // Cancels what is in flight and waits for the cancellation to land.
  void Settle(Instance& inst);

  Win32EventLoop& loop_;
  std::string pipeName_;
  std::string endpointPath_;  // the file naming the pipe, removed on Close()
  std::vector<unsigned char> tokenUser_;  // TOKEN_USER of this process
  std::vector<unsigned char> acl_;
  SECURITY_DESCRIPTOR sd_{};
  std::unique_ptr<Instance> listener_;
  std::map<ConnId, std::unique_ptr<Instance>> pipes_;
  bool open_ = false;
  // No listening instance (the system refused one): the next try.
  int64_t listenRetryAt_ = 0;
};

}  // namespace kolibra
