#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_notifier.h"
#include "platform/posix/posix_system.h"
#include "platform_test_util.h"

namespace kolibra {
namespace {

using testing::TempDir;

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

const char kKey[] = "SOFTWARE\\Norvik Engineering\\NORVIKKOLIBRA";

TEST(PosixSystemTest, ReadsUserValuesFromTheConfigFolder) {
  TempDir dir;
  setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  PosixSystem sys;
  const std::string file = PosixSystem::UserStoreFile(kKey);
  EXPECT_EQ(file, dir.path() + "/SOFTWARE/Norvik Engineering/NORVIKKOLIBRA/values");
  EXPECT_EQ(sys.ReadUserValue(kKey, "CustomPathDataDir"), "");  // no file yet

  ASSERT_EQ(std::system(("mkdir -p '" + dir.path() + "/SOFTWARE/Norvik Engineering/NORVIKKOLIBRA'").c_str()), 0);
  const std::string longest(PosixSystem::kMaxValueLength, 'x');
  WriteFile(file, "Other=1\r\nno equals sign\ncustomPATHdatadir=/srv/kolibra data\\\r\nEmpty=\n"
                  "Long=" + longest + "\nTooLong=" + longest + "y\nLast=unterminated");
  const std::pair<const char*, std::string> cases[] = {
      {"CustomPathDataDir", "/srv/kolibra data\\"}, {"Other", "1"}, {"Empty", ""},
      {"Missing", ""}, {"", ""}, {"Long", longest}, {"TooLong", ""}, {"Last", "unterminated"},
  };
  for (const auto& [name, value] : cases) EXPECT_EQ(sys.ReadUserValue(kKey, name), value) << name;

  unsetenv("XDG_CONFIG_HOME");
  const char* home = getenv("HOME");
  if (home != nullptr) {
    EXPECT_EQ(PosixSystem::UserStoreFile("A\\B"), std::string(home) + "/.config/A/B/values");
  }
}

TEST(PosixSystemTest, SingleInstanceLockIsExclusiveUntilReleased) {
  TempDir dir;
  {
    PosixSystem first;
    ASSERT_TRUE(first.AcquireSingleInstance(dir.path()));
    EXPECT_TRUE(first.AcquireSingleInstance(dir.path()));  // still ours
    PosixSystem second;  // its own open file description conflicts
    EXPECT_FALSE(second.AcquireSingleInstance(dir.path()));
    const pid_t child = fork();
    if (child == 0) _exit(PosixSystem().AcquireSingleInstance(dir.path()) ? 1 : 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_TRUE(PosixSystem().AcquireSingleInstance(dir.path()));
  // A folder where no lock file can be made does not stop the program.
  EXPECT_TRUE(PosixSystem().AcquireSingleInstance(dir.path() + "/missing"));
}

TEST(PosixFileSystemTest, ExistsRemoveAndMakeDirectory) {
  TempDir dir;
  PosixFileSystem fs;
  const std::string file = JoinPath(dir.path(), "SR_START.001");
  const std::string sub = JoinPath(dir.path(), "TRACE_202401");
  EXPECT_TRUE(fs.Remove(file));  // nothing to remove is not a failure
  WriteFile(file, "x");
  EXPECT_TRUE(fs.Exists(file));
  EXPECT_FALSE(fs.IsDirectory(file));
  EXPECT_TRUE(fs.Remove(file));
  EXPECT_FALSE(fs.Exists(file));
  EXPECT_TRUE(fs.MakeDirectory(sub));
  EXPECT_TRUE(fs.IsDirectory(sub));
  EXPECT_TRUE(fs.MakeDirectory(sub));  // already there
  EXPECT_FALSE(fs.Remove(sub));        // a folder is not a file
  WriteFile(file, "x");
  EXPECT_FALSE(fs.MakeDirectory(file));
  EXPECT_FALSE(fs.MakeDirectory(JoinPath(dir.path(), "a/b")));
}

TEST(PosixNotifierTest, EachCallIsOneTimeStampedLine) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  PosixNotifier n(fds[1]);
  n.Log("Avvio");
  n.MessageBox("ERRORE\r\nriga due");
  n.AddTrayIcon(TrayIcon::kIdle, "tip");  // headless: nothing
  close(fds[1]);
  std::string out;
  char buf[256];
  ssize_t got;
  while ((got = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(got));
  close(fds[0]);
  for (char& c : out) {
    if (c >= '0' && c <= '9') c = '9';  // blank out the time stamps
  }
  EXPECT_EQ(out, "kolibra: 99:99:99 Avvio\nkolibra: 99:99:99 MESSAGGIO: ERRORE riga due\n");
}

}  // namespace
}  // namespace kolibra
