// Helpers shared by the tests of the POSIX platform.
#pragma once

#include <stdlib.h>
#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/posix/posix_event_loop.h"

namespace kolibra::testing {

// CPU time used by the process so far, user and system.
inline int64_t CpuMs() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000;
}

// Waits in the loop until cond holds or the budget runs out.
template <typename Cond>
bool WaitFor(PosixEventLoop& loop, Cond cond, int64_t budgetMs = 2000) {
  const int64_t end = loop.NowMs() + budgetMs;
  while (!cond() && loop.NowMs() < end) loop.Wait(end);
  return cond();
}

struct TempDir {
  TempDir() {
    char tmpl[] = "/tmp/kolibra-platform-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string path;
};

}  // namespace kolibra::testing
