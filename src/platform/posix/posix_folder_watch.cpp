#include "platform/posix/posix_folder_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace kolibra {
namespace {

// A file written and closed, or moved in whole. Not its creation: a file
// just created may still be empty, and one looked at before its writer is
// done reads later as another file.
constexpr uint32_t kChangeMask = IN_MOVED_TO | IN_CLOSE_WRITE;
// The folder itself moved, removed or unmounted: the path may name another
// folder now, which this watch does not see.
constexpr uint32_t kEndMask = IN_MOVE_SELF | IN_DELETE_SELF | IN_UNMOUNT | IN_IGNORED;
// Reads per wake: a storm of changes is handed on in pieces, one per pass of
// the loop, instead of holding the loop while it lasts.
constexpr int kReadsPerWake = 16;

}  // namespace

bool PosixFolderWatch::Start(const std::string& folder, Handler onChange) {
  Stop();
  if (disabled_) return false;
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return false;
  if (inotify_add_watch(fd, folder.c_str(), kChangeMask | IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR) < 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  handler_ = std::move(onChange);
  watch_ = loop_.Watch(fd_, POLLIN, [this](short) { OnReadable(); });
  return true;
}

void PosixFolderWatch::Stop() {
  if (fd_ < 0) return;
  loop_.Unwatch(watch_);
  close(fd_);  // drops the watch with it
  fd_ = -1;
  handler_ = nullptr;
}

void PosixFolderWatch::OnReadable() {
  FolderChange change;
  change.namesKnown = true;
  alignas(inotify_event) char buf[4096];
  for (int i = 0; i < kReadsPerWake && fd_ >= 0; ++i) {
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      if (ev->mask & IN_Q_OVERFLOW) change.namesKnown = false;
      if (ev->mask & kEndMask) change.ended = true;
      if ((ev->mask & kChangeMask) && ev->len > 0) {
        std::string name(ev->name);  // NUL-padded
        if (std::find(change.names.begin(), change.names.end(), name) == change.names.end()) {
          change.names.push_back(std::move(name));
        }
      }
    }
  }
  if (!change.namesKnown) change.names.clear();
  if (!change.ended && change.namesKnown && change.names.empty()) return;
  Handler fn = handler_;  // the handler may stop or restart the watch
  if (change.ended) Stop();
  if (fn) fn(change);
}

}  // namespace kolibra
