// Helpers shared by the tests of the POSIX platform.
#pragma once

#include <stdlib.h>
#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace kolibra::testing {

// CPU time used by the process so far, user and system.
inline int64_t CpuMs() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000;
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
