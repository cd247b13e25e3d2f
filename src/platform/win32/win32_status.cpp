#include <windows.h>

#include <string>

#include "platform/status.h"

namespace kolibra {

Status OsError(int code) {
  char buf[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(code), 0, buf, sizeof buf, nullptr);
  std::string text(buf, n);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                           text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) text = "Windows error " + std::to_string(code);
  return Status::Failed(text);
}

Status LastOsError() { return OsError(static_cast<int>(GetLastError())); }

}  // namespace kolibra
