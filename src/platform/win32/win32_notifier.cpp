#include "platform/win32/win32_notifier.h"

#include <windows.h>
// The method of Notifier, not the Win32 macro.
#undef MessageBox

#include <cstdio>

namespace kolibra {

void Win32Notifier::MessageBox(const std::string& text) { Log("MESSAGGIO: " + text); }

void Win32Notifier::Log(const std::string& line) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "kolibra: %02d:%02d:%02d ", st.wHour, st.wMinute, st.wSecond);
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
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;  // no console: nowhere to log
  std::size_t done = 0;
  while (done < out.size()) {
    DWORD n = 0;
    if (!WriteFile(err, out.data() + done, static_cast<DWORD>(out.size() - done), &n, nullptr) || n == 0) return;
    done += n;
  }
}

}  // namespace kolibra
