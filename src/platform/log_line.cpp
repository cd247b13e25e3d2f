#include "platform/log_line.h"

#include <cstdio>

namespace kolibra {

std::string FormatLogLine(int hour, int minute, int second, const std::string& text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "kolibra: %02d:%02d:%02d ", hour, minute, second);
  std::string out = stamp;
  out.reserve(out.size() + text.size() + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += ' ';
    } else {
      out += c;
    }
  }
  out += '\n';
  return out;
}

}  // namespace kolibra
