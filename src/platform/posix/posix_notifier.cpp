#include "platform/posix/posix_notifier.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kolibra {

void PosixNotifier::MessageBox(const std::string& text) { Log("MESSAGGIO: " + text); }

void PosixNotifier::Log(const std::string& line) {
  const time_t now = time(nullptr);
  struct tm tm = {};
  localtime_r(&now, &tm);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "kolibra: %02d:%02d:%02d ", tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::string out = stamp;
  out.reserve(out.size() + line.size() + 1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < line.size() && line[i + 1] == '\n') ++i;
      out += ' ';
    } else {
      out += c;
    }
  }
  out += '\n';
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
