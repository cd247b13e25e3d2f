// The POSIX platform on real folders, sockets, pseudo-terminals and signals.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>

#include "platform/platform_cases.h"
#include "platform/posix/posix_platform.h"

namespace kolibra::testing {
namespace {

struct Posix {
  using Loop = PosixEventLoop;
  using Socket = PosixTcpSocket;
  using Serial = PosixSerialPort;
  using Files = PosixFileSystem;
  using System = PosixSystem;
  using Watch = PosixFolderWatch;
  static constexpr bool kNamesKnown = true;
  static constexpr const char* kNoDevice = "No such file or directory";  // what opening a missing port says
  static int64_t OsWaits(Loop& loop) { return loop.PollCalls(); }

  // The pseudo-terminal's slave side is the serial device, its master the ECR.
  struct SerialPair {
    explicit SerialPair(Loop&) {}
    ~SerialPair() {
      close(master);
      close(slave);
    }
    bool Join(Serial& port) {
      char name[256];
      if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return false;
      termios tio;
      tcgetattr(master, &tio);
      cfmakeraw(&tio);
      tcsetattr(master, TCSANOW, &tio);
      EXPECT_EQ(port.DevicePath(3), "/dev/ttyS2");  // COMn unless told otherwise
      port.SetDevicePath(3, name);
      return port.Configure(3, "9600,N,8,1").ok();
    }
    bool Send(const std::string& b) { return write(master, b.data(), b.size()) == ssize_t(b.size()); }
    std::string Receive(std::size_t want) {
      std::string got;
      char buf[256];
      for (pollfd p{master, POLLIN, 0}; got.size() < want && poll(&p, 1, 2000) > 0;) {
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
      }
      return got;
    }
    bool Held() {
      int excl = -1;
      return ioctl(slave, TIOCGEXCL, &excl) == 0 && excl == 1;
    }
    int master = -1, slave = -1;
  };

  static bool Plant(Planted what, const std::string& path, const std::string& target) {
    if (what == Planted::kFifo) return mkfifo(path.c_str(), 0600) == 0;
    if (what == Planted::kSymlink) std::filesystem::create_symlink(target, path);
    if (what == Planted::kHardLink) std::filesystem::create_hard_link(target, path);
    if (what == Planted::kFolder) std::filesystem::create_directory(path);
    return true;
  }
  static NameFacts Facts(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return {};
    return {S_ISDIR(st.st_mode), S_ISREG(st.st_mode), static_cast<int>(st.st_nlink), (st.st_mode & 0777) == 0600};
  }

  static bool TakesTermination(Loop& loop) { return loop.InstallTerminationSignals(); }
  static std::vector<std::pair<std::string, std::function<void()>>> TerminationRequests(Loop&) {
    const auto signal = [](int number) { return [number] { ASSERT_EQ(kill(getpid(), number), 0); }; };
    return {{"SIGTERM", signal(SIGTERM)}, {"SIGINT", signal(SIGINT)}, {"SIGHUP", signal(SIGHUP)}};
  }
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Posix, PlatformCases, Posix);

namespace {

// A file is reported once its writer closed it; a folder moved away ends the watch.
TEST(PosixPlatform, FolderWatchWaitsForTheWriterAndEndsWithTheFolder) {
  PosixEventLoop loop;
  PosixFolderWatch watch(loop);
  TempDir dir;
  std::vector<FolderChange> seen;
  ASSERT_TRUE(watch.Start(dir.path, [&](const FolderChange& c) { seen.push_back(c); }));
  {
    std::ofstream start(dir.path + "/SR_START.003", std::ios::binary);
    loop.Wait(loop.NowMs() + 100);
    EXPECT_TRUE(seen.empty());
    start << "1\r\n";
  }
  ASSERT_TRUE(WaitFor(loop, [&] { return !seen.empty(); }));
  EXPECT_EQ(seen[0].names, std::vector<std::string>{"SR_START.003"});

  seen.clear();
  std::filesystem::rename(dir.path, dir.path + ".away");
  ASSERT_TRUE(WaitFor(loop, [&] { return !seen.empty(); }));
  EXPECT_TRUE(seen.back().ended);
  EXPECT_FALSE(watch.Active());
  std::filesystem::rename(dir.path + ".away", dir.path);
}

TEST(PosixPlatform, ReadsUserValuesFromTheConfigFolder) {
  const char kKey[] = "SOFTWARE\\Norvik Engineering\\NORVIKKOLIBRA";
  TempDir dir;
  setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
  const std::string file = PosixSystem::UserStoreFile(kKey);
  EXPECT_EQ(file, dir.path + "/SOFTWARE/Norvik Engineering/NORVIKKOLIBRA/values");
  std::filesystem::create_directories(dir.path + "/SOFTWARE/Norvik Engineering/NORVIKKOLIBRA");
  const std::string longest(PosixSystem::kMaxValueLength, 'x');
  std::ofstream(file, std::ios::binary) << "no equals sign\ncustomPATHdatadir=/srv/kolibra data\\\r\nEmpty=\n"
                                           "Long=" + longest + "\nTooLong=" + longest + "y\nLast=unterminated";
  const std::pair<const char*, std::string> cases[] = {{"CustomPathDataDir", "/srv/kolibra data\\"}, {"Empty", ""},
      {"Missing", ""}, {"Long", longest}, {"TooLong", ""}, {"Last", "unterminated"}};
  for (const auto& [name, value] : cases) EXPECT_EQ(PosixSystem().ReadUserValue(kKey, name), value) << name;
  unsetenv("XDG_CONFIG_HOME");
}

TEST(PosixPlatform, LocksHoldAcrossProcessesAreOwnerOnlyAndCheckedAtTheirPath) {
  TempDir dir;
  PosixSystem first;
  ASSERT_TRUE(first.AcquireSingleInstance(dir.path));
  const pid_t child = fork();
  if (child == 0) _exit(PosixSystem().AcquireSingleInstance(dir.path) ? 1 : 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string data = JoinPath(dir.path, "data"), lockFile = JoinPath(data, "kolibra-data.lock");
  const auto mode = [](const std::string& p) { return unsigned(std::filesystem::symlink_status(p).permissions()); };
  std::filesystem::create_directory(data);
  fakes::WriteFileBytes(lockFile, "");
  chmod(lockFile.c_str(), 0644);  // as an older version made it
  ASSERT_TRUE(first.AcquireDataFolderLock(data));
  EXPECT_EQ(mode(lockFile), 0600u);
  EXPECT_EQ(first.CheckDataFolderLock(), DataLockState::kHeld);

  // Deleted: taken again while no other copy has it; the first gives way to one that has.
  std::filesystem::remove(lockFile);
  EXPECT_EQ(first.CheckDataFolderLock(), DataLockState::kRetaken);
  EXPECT_EQ(mode(lockFile), 0600u);
  EXPECT_EQ(first.CheckDataFolderLock(), DataLockState::kHeld);
  std::filesystem::remove(lockFile);
  PosixSystem second;
  ASSERT_TRUE(second.AcquireDataFolderLock(data));
  EXPECT_EQ(first.CheckDataFolderLock(), DataLockState::kLost);
  EXPECT_EQ(second.CheckDataFolderLock(), DataLockState::kHeld);
  std::filesystem::rename(data, data + ".old");  // and a new folder made
  std::filesystem::create_directory(data);
  EXPECT_EQ(second.CheckDataFolderLock(), DataLockState::kRetaken);
  EXPECT_EQ(first.CheckDataFolderLock(), DataLockState::kLost);
  EXPECT_EQ(PosixSystem().AcquireDataFolderLock(data), false);

  const std::string other = JoinPath(dir.path, "other"), target = JoinPath(dir.path, "target");
  std::filesystem::create_directory(other);
  fakes::WriteFileBytes(target, "precious");
  chmod(target.c_str(), 0644);
  std::filesystem::create_symlink(target, JoinPath(other, "kolibra.lock"));  // not followed
  PosixSystem third;
  EXPECT_FALSE(third.AcquireSingleInstance(other));
  EXPECT_EQ(third.LastLockRefusal(), LockRefusal::kUnavailable);
  EXPECT_EQ(mode(target), 0644u);
  EXPECT_EQ(fakes::ReadFileBytes(target), "precious");
}

// The driver's own files get their mode whatever the umask: owner-only, or the owner's to write and the group's
// to read (settings); shared files follow the umask (the service's 0007 shares job files with the group).
TEST(PosixPlatform, FreshFilesGetTheirModeWhateverTheUmask) {
  TempDir dir;
  PosixFileSystem fs;
  const struct { FileAccess access; mode_t mask, mode; } cases[] = {
      {FileAccess::kOwnerOnly, 0077, 0600},   {FileAccess::kOwnerOnly, 0277, 0600},
      {FileAccess::kOwnerWrites, 0007, 0640}, {FileAccess::kOwnerWrites, 0077, 0640},
      {FileAccess::kOwnerWrites, 0, 0640},    {FileAccess::kShared, 0007, 0660},
      {FileAccess::kGroupReadable, 0077, 0640},
  };
  const std::string path = JoinPath(dir.path, "KBCHKSCO.TXT");
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.access) << " " << std::oct << c.mask);
    const mode_t before = umask(c.mask);
    std::FILE* f = fs.CreateFresh(path, c.access).value();
    umask(before);
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
  }
}

// systemd's variables mark the service's own program, not a program its children start.
TEST(PosixPlatform, StartedAsServiceOnlyAsTheServicesOwnProcess) {
  const std::string me = std::to_string(getpid()), other = std::to_string(getpid() + 1);
  const struct { const char* invocation; const char* execPid; bool service; } cases[] = {
      {nullptr, nullptr, false}, {nullptr, me.c_str(), false}, {"", me.c_str(), false},
      {"0123456789abcdef", me.c_str(), true}, {"0123456789abcdef", other.c_str(), false},
  };
  for (const auto& c : cases) {
    c.invocation ? setenv("INVOCATION_ID", c.invocation, 1) : unsetenv("INVOCATION_ID");
    c.execPid ? setenv("SYSTEMD_EXEC_PID", c.execPid, 1) : unsetenv("SYSTEMD_EXEC_PID");
    EXPECT_EQ(PosixSystem().StartedAsService(), c.service) << &c - cases;
  }
  unsetenv("INVOCATION_ID");
  unsetenv("SYSTEMD_EXEC_PID");
}

}  // namespace
}  // namespace kolibra::testing
