// Notifications that files of one folder were created, moved in or
// written, delivered inside EventLoop::Wait() like every other event. They
// only make the driver look sooner: a change may be reported late, merged
// with others, or (on a share that sends none) never.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kolibra {

struct FolderChange {
  // The names of the files that were written and closed or moved in whole,
  // where the system tells them (false: something in the folder changed,
  // perhaps a file that is still being written; names unknown).
  bool namesKnown = false;
  std::vector<std::string> names;
  // The watch is over (the folder was removed or unmounted, or the system
  // stopped reporting); no change comes any more until Start() again.
  bool ended = false;
};

class FolderWatch {
 public:
  using Handler = std::function<void(const FolderChange&)>;

  virtual ~FolderWatch() = default;
  // Watches folder in place of any earlier one. onChange runs inside Wait(),
  // at most once per pass of the loop, with every change that came since
  // the last call. False when the folder cannot be watched (a share that
  // refuses, no notifications on this system): nothing is delivered.
  virtual bool Start(const std::string& folder, Handler onChange) = 0;
  virtual void Stop() = 0;
  virtual bool Active() const = 0;
};

}  // namespace kolibra
