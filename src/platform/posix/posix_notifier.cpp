#include "platform/posix/posix_notifier.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/log_line.h"

namespace kolibra {

void PosixNotifier::MessageBox(const std::string& text) { Log(kMessageBoxLogPrefix + text); }

void PosixNotifier::Log(const std::string& line) {
  const time_t now = time(nullptr);
  struct tm tm = {};
  localtime_r(&now, &tm);
  const std::string out = FormatLogLine(tm.tm_hour, tm.tm_min, tm.tm_sec, line);
  // One write per line, so lines of several processes never interleave.
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = write(fd_, out.data() + done, out.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // nowhere to log: nothing else to do
    }
  }
}

}  // namespace kolibra
