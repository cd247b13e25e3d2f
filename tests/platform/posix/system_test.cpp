#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fakes/fake_platform.h"

#include "platform/posix/posix_system.h"
#include "platform/posix/platform_test_util.h"

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

// Lock files are the driver's user's alone and never opened through a link;
// the data folder's lock is checked against what its path names now.
TEST(PosixSystemTest, DataFolderLockIsOwnerOnlyAndCheckedAtItsPath) {
  TempDir dir;
  const std::string data = JoinPath(dir.path, "data"), lockFile = JoinPath(data, "kolibra-data.lock");
  const auto mode = [](const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000u;
  };
  std::filesystem::create_directory(data);
  fakes::WriteFileBytes(lockFile, "");
  chmod(lockFile.c_str(), 0644);  // as an older version made it
  PosixSystem first;
  ASSERT_TRUE(first.AcquireDataFolderLock(data));
  EXPECT_EQ(mode(lockFile), 0600u);
  EXPECT_EQ(first.CheckDataFolderLock(), DataLockState::kHeld);

  // Deleted by someone else: taken again while no other copy has it.
  std::filesystem::remove(lockFile);
  EXPECT_EQ(first.CheckDataFolderLock(), DataLockState::kRetaken);
  EXPECT_EQ(mode(lockFile), 0600u);
  EXPECT_EQ(first.CheckDataFolderLock(), DataLockState::kHeld);
  // Deleted, and a second copy locks a new one first: the first gives way.
  std::filesystem::remove(lockFile);
  PosixSystem second;
  ASSERT_TRUE(second.AcquireDataFolderLock(data));
  EXPECT_EQ(first.CheckDataFolderLock(), DataLockState::kLost);
  EXPECT_EQ(second.CheckDataFolderLock(), DataLockState::kHeld);
  // The folder renamed away and a new one made: the same, whoever is first.
  std::filesystem::rename(data, data + ".old");
  std::filesystem::create_directory(data);
  EXPECT_EQ(second.CheckDataFolderLock(), DataLockState::kRetaken);
  EXPECT_EQ(first.CheckDataFolderLock(), DataLockState::kLost);
  EXPECT_EQ(PosixSystem().AcquireDataFolderLock(data), false);

  // A link under a lock file's name is not followed: no lock, target kept.
  const std::string other = JoinPath(dir.path, "other"), target = JoinPath(dir.path, "target");
  std::filesystem::create_directory(other);
  fakes::WriteFileBytes(target, "precious");
  chmod(target.c_str(), 0644);
  std::filesystem::create_symlink(target, JoinPath(other, "kolibra.lock"));
  PosixSystem third;
  EXPECT_FALSE(third.AcquireSingleInstance(other));
  EXPECT_EQ(third.LastLockRefusal(), LockRefusal::kUnavailable);
  EXPECT_EQ(mode(target), 0644u);
  EXPECT_EQ(fakes::ReadFileBytes(target), "precious");
}

}  // namespace
}  // namespace kolibra
