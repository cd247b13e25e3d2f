// Helpers of the platform tests on either system.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "fakes/fake_platform.h"
#include "platform/event_loop.h"

namespace kolibra::testing {

// A fresh folder of the user's alone, removed with its contents.
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
