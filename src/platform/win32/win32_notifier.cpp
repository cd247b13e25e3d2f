#include "platform/win32/win32_notifier.h"

#include <windows.h>
// The method of Notifier, not the Win32 macro.
#undef MessageBox

#include "platform/log_line.h"

namespace kolibra {

void Win32Notifier::MessageBox(const std::string& text) { Log(kMessageBoxLogPrefix + text); }

void Win32Notifier::Log(const std::string& line) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  const std::string out = FormatLogLine(st.wHour, st.wMinute, st.wSecond, line);
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
