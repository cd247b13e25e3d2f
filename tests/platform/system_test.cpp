#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "platform/posix/posix_system.h"
#include "platform_test_util.h"

namespace kolibra {
namespace {

using testing::TempDir;

const char kKey[] = "SOFTWARE\\Norvik Engineering\\NORVIKKOLIBRA";

TEST(PosixSystemTest, ReadsUserValuesFromTheConfigFolder) {
  TempDir dir;
  setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
  PosixSystem sys;
  const std::string file = PosixSystem::UserStoreFile(kKey);
  EXPECT_EQ(file, dir.path + "/SOFTWARE/Norvik Engineering/NORVIKKOLIBRA/values");
  std::filesystem::create_directories(dir.path + "/SOFTWARE/Norvik Engineering/NORVIKKOLIBRA");
  const std::string longest(PosixSystem::kMaxValueLength, 'x');
  std::ofstream(file, std::ios::binary) << "no equals sign\ncustomPATHdatadir=/srv/kolibra data\\\r\nEmpty=\n"
                                           "Long=" + longest + "\nTooLong=" + longest + "y\nLast=unterminated";
  const std::pair<const char*, std::string> cases[] = {
      {"CustomPathDataDir", "/srv/kolibra data\\"}, {"Empty", ""},       {"Missing", ""},
      {"Long", longest},                           {"TooLong", ""},     {"Last", "unterminated"},
  };
  for (const auto& [name, value] : cases) EXPECT_EQ(sys.ReadUserValue(kKey, name), value) << name;
  unsetenv("XDG_CONFIG_HOME");
}

TEST(PosixSystemTest, SingleInstanceLockIsExclusiveUntilReleased) {
  TempDir dir;
  {
    PosixSystem first;
    ASSERT_TRUE(first.AcquireSingleInstance(dir.path));
    EXPECT_FALSE(PosixSystem().AcquireSingleInstance(dir.path));
    const pid_t child = fork();
    if (child == 0) _exit(PosixSystem().AcquireSingleInstance(dir.path) ? 1 : 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_TRUE(PosixSystem().AcquireSingleInstance(dir.path));

  // The data-folder lock is a lock of its own beside it; a lock whose file
  // cannot be created is not taken.
  PosixSystem settings, data;
  ASSERT_TRUE(settings.AcquireSingleInstance(dir.path));
  ASSERT_TRUE(data.AcquireDataFolderLock(dir.path));
  EXPECT_FALSE(PosixSystem().AcquireDataFolderLock(dir.path));
  EXPECT_FALSE(PosixSystem().AcquireDataFolderLock(dir.path + "/missing"));
  EXPECT_FALSE(PosixSystem().AcquireSingleInstance(dir.path + "/missing"));
}

}  // namespace
}  // namespace kolibra
