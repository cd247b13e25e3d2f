// Folder changes on Windows: a change-notification handle of the folder in
// the loop's wait list. It carries no names: each signal is one nameless
// change, after which the handle is re-armed.
#pragma once

#include <windows.h>

#include <string>

#include "platform/folder_watch.h"
#include "platform/win32/win32_event_loop.h"

namespace kolibra {

class Win32FolderWatch : public FolderWatch {
 public:
  explicit Win32FolderWatch(Win32EventLoop& loop) : loop_(loop) {}
  ~Win32FolderWatch() override { Stop(); }
  Win32FolderWatch(const Win32FolderWatch&) = delete;
  Win32FolderWatch& operator=(const Win32FolderWatch&) = delete;

  bool Start(const std::string& folder, Handler onChange) override;
  void Stop() override;
  bool Active() const override { return handle_ != nullptr; }

  // Every later Start() fails, as on a share without notifications (lets a
  // benchmark measure polling alone).
  void Disable() { disabled_ = true; }

 private:
  void OnSignaled();

  Win32EventLoop& loop_;
  HANDLE handle_ = nullptr;
  Win32EventLoop::WatchId watch_ = 0;
  Handler handler_;
  bool disabled_ = false;
};

}  // namespace kolibra
