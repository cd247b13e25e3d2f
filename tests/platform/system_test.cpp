#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/posix/posix_platform.h"

namespace kolibra {
namespace {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/kolibra-platform-XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

const char kKey[] = "SOFTWARE\\Norvik Engineering\\NORVIKKOLIBRA";

TEST(PosixSystemTest, ReadsUserValuesFromTheConfigFolder) {
  TempDir dir;
  ScopedEnv xdg("XDG_CONFIG_HOME", dir.path().c_str());
  PosixSystem sys;
  const std::string file = PosixSystem::UserStoreFile(kKey);
  EXPECT_EQ(file, dir.path() + "/SOFTWARE/Norvik Engineering/NORVIKKOLIBRA/values");
  EXPECT_EQ(sys.ReadUserValue(kKey, "CustomPathDataDir"), "");  // no file

  ASSERT_EQ(std::system(("mkdir -p '" + dir.path() + "/SOFTWARE/Norvik Engineering/NORVIKKOLIBRA'").c_str()), 0);
  const std::string longValue(PosixSystem::kMaxValueLength, 'x');
  WriteFile(file, "Other=1\r\n"
                  "no equals sign\n"
                  "customPATHdatadir=/srv/kolibra data\\\r\n"
                  "Empty=\n"
                  "Long=" + longValue + "\n"
                  "TooLong=" + longValue + "y\n"
                  "Last=unterminated");
  struct Case {
    const char* name;
    std::string value;
  } cases[] = {
      {"CustomPathDataDir", "/srv/kolibra data\\"},
      {"Other", "1"},
      {"Empty", ""},
      {"Missing", ""},
      {"", ""},
      {"Long", longValue},
      {"TooLong", ""},
      {"Last", "unterminated"},
  };
  for (const Case& c : cases) EXPECT_EQ(sys.ReadUserValue(kKey, c.name), c.value) << c.name;
  EXPECT_EQ(sys.ReadUserValue("SOFTWARE\\Other", "Other"), "");
}

TEST(PosixSystemTest, ConfigFolderDefaultsToHome) {
  TempDir dir;
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  ScopedEnv home("HOME", dir.path().c_str());
  EXPECT_EQ(PosixSystem::UserStoreFile("A\\B"), dir.path() + "/.config/A/B/values");
}

TEST(PosixSystemTest, SingleInstanceLockIsExclusive) {
  TempDir dir;
  PosixSystem first;
  ASSERT_TRUE(first.AcquireSingleInstance(dir.path()));
  EXPECT_TRUE(first.AcquireSingleInstance(dir.path()));  // still ours
  {
    PosixSystem second;  // its own open file description conflicts
    EXPECT_FALSE(second.AcquireSingleInstance(dir.path()));
  }
  // Another process is refused as well.
  const pid_t child = fork();
  if (child == 0) {
    PosixSystem other;
    _exit(other.AcquireSingleInstance(dir.path()) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(PosixSystemTest, LockIsReleasedWhenTheHolderGoes) {
  TempDir dir;
  {
    PosixSystem first;
    ASSERT_TRUE(first.AcquireSingleInstance(dir.path()));
  }
  PosixSystem next;
  EXPECT_TRUE(next.AcquireSingleInstance(dir.path()));
  // A folder where no lock file can be made does not stop the program.
  PosixSystem elsewhere;
  EXPECT_TRUE(elsewhere.AcquireSingleInstance(dir.path() + "/missing"));
}

TEST(PosixSystemTest, FoldersAndVersion) {
  PosixSystem sys;
  EXPECT_FALSE(sys.IsNtMajor6());
  struct stat st;
  const std::string self = sys.ProgramFolder() + "/platform_tests";
  EXPECT_EQ(stat(self.c_str(), &st), 0) << self;
  const std::string common = sys.CommonAppDataFolder();
  EXPECT_TRUE(common.empty() || common == "/var/lib");
}

TEST(PosixFileSystemTest, ExistsRemoveAndMakeDirectory) {
  TempDir dir;
  PosixFileSystem fs;
  const std::string file = JoinPath(dir.path(), "SR_START.001");
  const std::string sub = JoinPath(dir.path(), "TRACE_202401");
  EXPECT_FALSE(fs.Exists(file));
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
  EXPECT_FALSE(fs.Exists(""));
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
  // Blank out the digits of the time stamps before comparing.
  for (char& c : out) {
    if (c >= '0' && c <= '9') c = '9';
  }
  EXPECT_EQ(out, "kolibra: 99:99:99 Avvio\nkolibra: 99:99:99 MESSAGGIO: ERRORE riga due\n");
}

TEST(PosixPlatformTest, BundleHandsOutItsParts) {
  PosixPlatform p;
  Platform& pf = p.platform();
  EXPECT_EQ(&pf.loop, &p.loop());
  EXPECT_EQ(&pf.serial, &p.serial());
  EXPECT_EQ(&pf.socket, &p.socket());
  EXPECT_EQ(&pf.system, &p.system());
  p.serial().SetDevicePath(2, "/dev/ttyUSB0");
  EXPECT_EQ(p.serial().DevicePath(2), "/dev/ttyUSB0");
  EXPECT_EQ(pf.socket.State(), kSocketClosed);
}

}  // namespace
}  // namespace kolibra
