#include "platform/folder_watch_cases.h"

#include "platform/posix/posix_folder_watch.h"
#include "platform/posix/platform_test_util.h"

namespace kolibra {
namespace {

TEST(PosixFolderWatchTest, RealFolderChangesReachTheLoop) {
  PosixEventLoop loop;
  PosixFolderWatch watch(loop);
  testing::TempDir dir;
  testing::ExpectFolderWatchWorks(loop, watch, dir.path, true, testing::CpuMs,
                                  [&] { return loop.PollCalls(); });

  // A file still open for writing is not reported: only once closed, when
  // it holds what its writer meant.
  std::vector<FolderChange> seen;
  ASSERT_TRUE(watch.Start(dir.path, [&](const FolderChange& c) { seen.push_back(c); }));
  {
    std::ofstream start(dir.path + "/SR_START.003", std::ios::binary);
    loop.Wait(loop.NowMs() + 100);
    EXPECT_TRUE(seen.empty());
    start << "1\r\n";
  }
  ASSERT_TRUE(testing::WaitFor(loop, [&] { return !seen.empty(); }));
  EXPECT_EQ(seen[0].names, std::vector<std::string>{"SR_START.003"});

  // Moved or removed folders end the watch (the path may name another now);
  // a disabled watch refuses every folder.
  seen.clear();
  std::filesystem::rename(dir.path, dir.path + ".away");
  ASSERT_TRUE(testing::WaitFor(loop, [&] { return !seen.empty(); }));
  EXPECT_TRUE(seen.back().ended);
  EXPECT_FALSE(watch.Active());
  std::filesystem::rename(dir.path + ".away", dir.path);
  watch.Disable();
  EXPECT_FALSE(watch.Start(dir.path, [](const FolderChange&) {}));
}

}  // namespace
}  // namespace kolibra
