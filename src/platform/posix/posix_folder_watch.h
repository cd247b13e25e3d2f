// Folder changes on POSIX systems with inotify: one non-blocking inotify
// descriptor in the loop's poll set, watching one folder.
#pragma once

#include <string>

#include "platform/folder_watch.h"
#include "platform/posix/posix_event_loop.h"

namespace kolibra {

class PosixFolderWatch : public FolderWatch {
 public:
  explicit PosixFolderWatch(PosixEventLoop& loop) : loop_(loop) {}
  ~PosixFolderWatch() override { Stop(); }
  PosixFolderWatch(const PosixFolderWatch&) = delete;
  PosixFolderWatch& operator=(const PosixFolderWatch&) = delete;

  bool Start(const std::string& folder, Handler onChange) override;
  void Stop() override;
  bool Active() const override { return fd_ >= 0; }

  // Every later Start() fails, as on a folder without notifications (lets a
  // benchmark measure polling alone).
  void Disable() { disabled_ = true; }

 private:
  void OnReadable();

  PosixEventLoop& loop_;
  int fd_ = -1;
  PosixEventLoop::WatchId watch_ = 0;
  Handler handler_;
  bool disabled_ = false;
};

}  // namespace kolibra
