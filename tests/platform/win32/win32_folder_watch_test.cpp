#include "platform/win32/win32_folder_watch.h"

#include "platform/folder_watch_cases.h"
#include "win32_test_util.h"

namespace kolibra {
namespace {

TEST(Win32FolderWatchTest, RealFolderChangesReachTheLoop) {
  Win32EventLoop loop;
  Win32FolderWatch watch(loop);
  testing::TempDir dir;
  testing::ExpectFolderWatchWorks(loop, watch, dir.path, false, testing::CpuMs,
                                  [&] { return loop.WaitCalls(); });
  watch.Disable();
  EXPECT_FALSE(watch.Start(dir.path, [](const FolderChange&) {}));
}

}  // namespace
}  // namespace kolibra
