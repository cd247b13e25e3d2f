// Folder-watch cases every real implementation passes, on a real folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "loop_cases.h"
#include "platform/folder_watch.h"

namespace kolibra::testing {

inline void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A file written in the folder reaches the handler inside Wait(), with its
// name where the system tells names; two hundred files written at once come
// in a handful of deliveries; an idle watched folder lets the wait sleep;
// the folder stays renamable while watched; a stopped watch, and a missing
// folder, deliver nothing.
inline void ExpectFolderWatchWorks(EventLoop& loop, FolderWatch& watch, const std::string& dir,
                                   bool namesKnown, const std::function<int64_t()>& cpuMs,
                                   const std::function<int64_t()>& osWaits) {
  std::vector<FolderChange> seen;
  auto record = [&](const FolderChange& c) { seen.push_back(c); };
  EXPECT_FALSE(watch.Start(dir + "/missing", record));
  EXPECT_FALSE(watch.Active());
  ASSERT_TRUE(watch.Start(dir, record));
  EXPECT_TRUE(watch.Active());
  ExpectIdleWaitSleeps(loop, cpuMs, osWaits);
  EXPECT_TRUE(seen.empty());

  WriteWhole(dir + "/SR_START.001", "1\r\n");
  EXPECT_TRUE(seen.empty());  // only inside Wait()
  ASSERT_TRUE(WaitFor(loop, [&] { return !seen.empty(); }));
  EXPECT_EQ(seen[0].namesKnown, namesKnown);
  EXPECT_FALSE(seen[0].ended);
  if (namesKnown) EXPECT_EQ(seen[0].names, std::vector<std::string>{"SR_START.001"});

  // Changes that come together are handed on together, not one by one.
  loop.Wait(loop.NowMs() + 100);
  seen.clear();
  for (int i = 0; i < 200; ++i) WriteWhole(dir + "/f" + std::to_string(i), "x");
  loop.Wait(loop.NowMs() + 300);
  EXPECT_GE(seen.size(), 1u);
  EXPECT_LE(seen.size(), 4u);
  if (namesKnown && !seen.empty()) EXPECT_EQ(seen[0].names.size(), 200u);

  // Renamed while watched: allowed; the watch may end, never spins.
  const std::string moved = dir + ".moved";
  std::error_code ec;
  std::filesystem::rename(dir, moved, ec);
  EXPECT_FALSE(ec) << ec.message();
  loop.Wait(loop.NowMs() + 100);
  std::filesystem::rename(moved, dir, ec);
  watch.Stop();
  EXPECT_FALSE(watch.Active());
  seen.clear();
  WriteWhole(dir + "/SR_START.002", "1\r\n");
  loop.Wait(loop.NowMs() + 200);
  EXPECT_TRUE(seen.empty());
}

}  // namespace kolibra::testing
