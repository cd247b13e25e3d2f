// Helpers shared by the tests of the Windows platform.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace kolibra::testing {

// CPU time used by the process so far, user and kernel.
inline int64_t CpuMs() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ms = [](const FILETIME& t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000;
  };
  return ms(kernel) + ms(user);
}

// Wine, where some Windows guarantees are missing (exclusive COM ports).
inline bool RunningOnWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A fresh folder under the temporary folder, removed with its contents.
struct TempDir {
  TempDir() {
    char base[MAX_PATH + 1];
    GetTempPathA(sizeof base, base);
    static int counter = 0;
    path = std::string(base) + "kolibra-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
    CreateDirectoryA(path.c_str(), nullptr);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

}  // namespace kolibra::testing
