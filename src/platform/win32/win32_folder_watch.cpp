#include "platform/win32/win32_folder_watch.h"

#include <utility>

namespace kolibra {

bool Win32FolderWatch::Start(const std::string& folder, Handler onChange) {
  Stop();
  if (disabled_) return false;
  // Names created, renamed in or out, and files written; the folder itself
  // stays free to be renamed or removed by others.
  const HANDLE h = FindFirstChangeNotificationA(
      folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return false;
  const Win32EventLoop::WatchId id = loop_.WatchHandle(h, [this] { OnSignaled(); });
  if (id == 0) {
    FindCloseChangeNotification(h);
    return false;
  }
  handle_ = h;
  watch_ = id;
  handler_ = std::move(onChange);
  return true;
}

void Win32FolderWatch::Stop() {
  if (handle_ == nullptr) return;
  loop_.Unwatch(watch_);
  FindCloseChangeNotification(handle_);
  handle_ = nullptr;
  handler_ = nullptr;
}

void Win32FolderWatch::OnSignaled() {
  FolderChange change;
  // Re-armed before the handler runs, so that a change made meanwhile
  // signals again; a handle that cannot be re-armed would signal for ever.
  if (!FindNextChangeNotification(handle_)) change.ended = true;
  Handler fn = handler_;  // the handler may stop or restart the watch
  if (change.ended) Stop();
  if (fn) fn(change);
}

}  // namespace kolibra
