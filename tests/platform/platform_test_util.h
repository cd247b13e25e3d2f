// Helpers of the platform tests on either system: CPU time, a throwaway
// folder, a wait in the loop for a condition.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include <cstdint>
#include <filesystem>
#include <string>

#include "fakes/fake_platform.h"
#include "platform/event_loop.h"

namespace kolibra::testing {

// CPU time used by the process so far, user and system.
inline int64_t CpuMs() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ms = [](const FILETIME& t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000;
  };
  return ms(kernel) + ms(user);
#else
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000;
#endif
}

// A fresh folder under the temporary folder, the user's alone, removed with
// its contents.
struct TempDir : fakes::ScratchDir {
  std::string path = ScratchDir::path();
  TempDir() { std::filesystem::permissions(path, std::filesystem::perms::owner_all); }
};

// Waits in the loop until cond holds or the budget runs out.
template <typename Cond>
bool WaitFor(EventLoop& loop, Cond cond, int64_t budgetMs = 2000) {
  const int64_t end = loop.NowMs() + budgetMs;
  while (!cond() && loop.NowMs() < end) loop.Wait(end);
  return cond();
}

}  // namespace kolibra::testing
