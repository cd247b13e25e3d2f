// The Windows platform on real folders, sockets, COM ports and the registry.
#include "platform/platform_cases.h"  // first: it brings Winsock 2, which goes before windows.h
#include "platform/setup_actions.h"
#include "platform/win32/win32_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace kolibra::testing {
namespace {

struct Win32 {
  using Loop = Win32EventLoop;
  using Socket = Win32TcpSocket;
  using Serial = Win32SerialPort;
  using Files = Win32FileSystem;
  using System = Win32System;
  using Watch = Win32FolderWatch;
  static constexpr bool kNamesKnown = false;
  static constexpr const char* kNoDevice = nullptr;  // Windows and Wine word it differently
  static int64_t OsWaits(Loop& loop) { return loop.WaitCalls(); }

  // Two COM ports joined by a null-modem line, KOLIBRA_TEST_COM_PAIR="a,b"; COMb plays the ECR.
  struct SerialPair {
    explicit SerialPair(Loop& l) : loop(l), ecr(l), intruder(l) {}
    bool Join(Serial& p) {
      const char* pair = std::getenv("KOLIBRA_TEST_COM_PAIR");
      int a = 0, b = 0;
      if (pair == nullptr || std::sscanf(pair, "%d,%d", &a, &b) != 2) return false;
      port = &p;
      EXPECT_TRUE(p.Configure(a, "9600,N,8,1").ok() && ecr.Configure(b, "9600,N,8,1").ok() && ecr.Open().ok() &&
                  intruder.Configure(a, "9600,N,8,1").ok());
      return true;
    }
    bool Send(const std::string& bytes) { return ecr.Write(bytes).ok(); }
    std::string Receive(std::size_t want) {
      std::string got;
      WaitFor(loop, [&] { return (got += ecr.ReadAll()).size() >= want; }, 3000);
      return got;
    }
    // Windows' COM driver refuses a second opener; Wine's does not.
    bool Held() {
      const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
      if (port->IsOpen() && wine) return true;
      const bool free = intruder.Open().ok();
      intruder.Close();
      return !free;
    }
    Loop& loop;
    Serial ecr, intruder;
    Serial* port = nullptr;
  };

  // Symbolic links only, checked (Wine 8 claims some it did not make); others have tests of their own.
  static bool Plant(Planted what, const std::string& path, const std::string& target) {
    const DWORD flags = std::filesystem::is_directory(target) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    if (what != Planted::kSymlink || !CreateSymbolicLinkA(path.c_str(), target.c_str(), flags)) return false;
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
  }
  // Wine keeps no access list on files: who may open one is not told here.
  static NameFacts Facts(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return {};
    NameFacts facts{(a & FILE_ATTRIBUTE_DIRECTORY) != 0,
                    (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0, 0, std::nullopt};
    const OwnedHandle h(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (h && GetFileInformationByHandle(h.get(), &info)) facts.names = info.nNumberOfLinks;
    return facts;
  }

  static bool TakesTermination(Loop& loop) { return loop.InstallTerminationHandlers(); }
  // A console close would take the same route. The window stays after each.
  static std::vector<std::pair<std::string, std::function<void()>>> TerminationRequests(Loop& loop) {
    const HWND w = loop.Window();
    const auto post = [w](UINT msg, WPARAM wParam) {
      return [=] {
        EXPECT_TRUE(IsWindow(w));
        EXPECT_EQ(SendMessageA(w, msg, wParam, 0), msg == WM_QUERYENDSESSION ? TRUE : FALSE);
      };
    };
    return {{"WM_CLOSE", [w] { PostMessageA(w, WM_CLOSE, 0, 0); }},
            {"WM_QUERYENDSESSION", post(WM_QUERYENDSESSION, 0)},
            {"WM_ENDSESSION", post(WM_ENDSESSION, TRUE)},
            {"WM_CLOSE from another thread", [w] {
               EXPECT_TRUE(IsWindow(w));
               std::thread([w] { PostMessageA(w, WM_CLOSE, 0, 0); }).join();
             }}};
  }
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, PlatformCases, Win32);

namespace {

// Devices and pipes are never read or written; a file held open is not removed or replaced until closed.
TEST(Win32Platform, DevicesPipesAndHeldFilesAreLeftAlone) {
  TempDir dir;
  Win32FileSystem fs;
  EXPECT_EQ(Win32SerialPort::DeviceName(12), "\\\\.\\COM12");
  const std::string pipe = "\\\\.\\pipe\\kolibra-test-" + std::to_string(GetCurrentProcessId());
  HANDLE servers[4];  // each open of the pipe takes one waiting instance
  for (HANDLE& server : servers) {
    server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, PIPE_UNLIMITED_INSTANCES, 512, 512, 0,
                              nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
  }
  for (const std::string& path : {pipe, JoinPath(dir.path, "NUL"), JoinPath(dir.path, "con.001"),
                                  JoinPath(dir.path, "Com1 .txt")}) {
    EXPECT_EQ(fs.ReadRegularFile(path, 100).status, ReadStatus::kNotRegular) << path;
    EXPECT_EQ(fs.Inspect(path).kind, FileKind::kOther) << path;
    EXPECT_FALSE(fs.IsDirectory(path)) << path;
    if (path != pipe) {
      EXPECT_FALSE(fs.Exists(path)) << path;
      EXPECT_FALSE(fs.CreateFresh(path).ok()) << path;
    }
  }
  for (HANDLE server : servers) CloseHandle(server);
  // Names that merely begin like a device are ordinary files.
  for (const char* name : {"CONFIG.TXT", "COM10", "NULL", "LPT"}) {
    EXPECT_FALSE(Win32FileSystem::NamesDevice(JoinPath(dir.path, name))) << name;
  }

  const std::string result = JoinPath(dir.path, "SR_OUT.001"), temporary = JoinPath(dir.path, "~KBSR_OUT.001.tmp");
  WriteFileBytes(result, "old");
  WriteFileBytes(temporary, "TIME,1\r\n");
  const HANDLE held = CreateFileA(result.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(fs.Remove(result).ok());
  EXPECT_FALSE(fs.CreateFresh(result).ok());
  EXPECT_FALSE(fs.ReplaceWith(temporary, result).ok());  // a reader holds it: tried again later
  EXPECT_EQ(ReadFileBytes(temporary), "TIME,1\r\n");
  CloseHandle(held);
  EXPECT_TRUE(fs.ReplaceWith(temporary, result).ok());
  EXPECT_TRUE(fs.Remove(result).ok());
  EXPECT_FALSE(fs.Exists(result));

  // A log hard-linked to another file is replaced, not appended through.
  const std::string log = JoinPath(dir.path, "LOGFILE.TXT"), other = JoinPath(dir.path, "other.txt");
  WriteFileBytes(other, "precious");
  if (CreateHardLinkA(log.c_str(), other.c_str(), nullptr)) {
    EXPECT_TRUE(fs.AppendToPlainFile(log, "c\r\n").ok());
    EXPECT_EQ(ReadFileBytes(other), "precious");
    EXPECT_EQ(ReadFileBytes(log), "c\r\n");
  }
}

TEST(Win32Platform, ReadsTextValuesOfTheCurrentUserAndFindsItsFolders) {
  const std::string key = "Software\\KolibraTest-" + std::to_string(GetCurrentProcessId());
  const std::string longest(Win32System::kMaxValueLength, 'x');
  const DWORD number = 42;
  const struct { const char* name; DWORD type; std::string stored, read; } rows[] = {
      {"CustomPathDataDir", REG_SZ, std::string("D:\\Kolibra dati\\\0", 17), "D:\\Kolibra dati\\"},
      {"Expand", REG_EXPAND_SZ, std::string("%TEMP%\\k\0", 9), "%TEMP%\\k"},  // not expanded
      {"NoNul", REG_SZ, "C:\\dati", "C:\\dati"},                               // stored without its NUL
      {"Number", REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof number), "42"},
      {"Binary", REG_BINARY, "C:\\dati", ""},
      {"Empty", REG_SZ, std::string("\0", 1), ""},
      {"Long", REG_SZ, longest + '\0', longest},
      {"TooLong", REG_SZ, longest + "y" + '\0', ""},
  };
  Win32System sys;
  for (const auto& r : rows) {
    RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), r.name, r.type, r.stored.data(), DWORD(r.stored.size()));
    EXPECT_EQ(sys.ReadUserValue(key, r.name), r.read) << r.name;
  }
  EXPECT_EQ(sys.ReadUserValue(key, "customPATHdatadir"), rows[0].read);
  EXPECT_EQ(sys.ReadUserValue(key, "Missing"), "");
  EXPECT_EQ(sys.ReadUserValue(key + "\\Missing", "CustomPathDataDir"), "");
  RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());

  Win32FileSystem fs;
  EXPECT_TRUE(fs.IsDirectory(sys.CommonAppDataFolder()));
  EXPECT_TRUE(fs.Exists(JoinPath(sys.ProgramFolder(), "platform_tests.exe")));
}

TEST(Win32Platform, OneCopyPerSettingsFolderWhateverItsSpelling) {
  TempDir dir, other;
  std::string spelled = dir.path + "\\";  // lower case, forward slashes, trailing separator
  CharLowerA(spelled.data());
  std::replace(spelled.begin(), spelled.end(), '\\', '/');
  const std::string name = Win32System::InstanceMutexName(dir.path);
  EXPECT_EQ(Win32System::InstanceMutexName(spelled), name);
  EXPECT_NE(Win32System::InstanceMutexName(other.path), name);
  const auto mutexExists = [&] { return bool(OwnedHandle(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()))); };
  {
    Win32System first;
    ASSERT_TRUE(first.AcquireSingleInstance(dir.path));
    EXPECT_TRUE(first.AcquireSingleInstance(dir.path));  // already its own
    EXPECT_TRUE(mutexExists());
    EXPECT_FALSE(Win32System().AcquireSingleInstance(spelled));
    EXPECT_TRUE(Win32System().AcquireSingleInstance(other.path));
  }
  EXPECT_FALSE(mutexExists());  // released with its owner
  Win32System data;
  ASSERT_TRUE(data.AcquireDataFolderLock(dir.path));
  EXPECT_FALSE(DeleteFileA(JoinPath(dir.path, "kolibra-data.lock").c_str()));  // held
}

// A lock held by a copy of another session (its lock file locked, no mutex
// of this session) is told apart from one of this session.
TEST(Win32Platform, LockOfACopyInAnotherSessionIsToldApart) {
  TempDir settings, data;
  for (const std::string& file : {JoinPath(settings.path, "kolibra.lock"), JoinPath(data.path, "kolibra-data.lock")}) {
    OwnedHandle other(CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    OVERLAPPED at = {};
    ASSERT_TRUE(LockFileEx(other.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at));
    Win32System sys;
    const bool settingsLock = file.find("kolibra.lock") != std::string::npos;
    EXPECT_FALSE(settingsLock ? sys.AcquireSingleInstance(settings.path) : sys.AcquireDataFolderLock(data.path));
    EXPECT_EQ(sys.LastLockRefusal(), LockRefusal::kOtherSession) << file;
  }
  // A copy of this session holds the data folder: another copy, as before.
  Win32System first, second;
  TempDir shared;
  ASSERT_TRUE(first.AcquireDataFolderLock(shared.path));
  EXPECT_FALSE(second.AcquireDataFolderLock(shared.path));
  EXPECT_EQ(second.LastLockRefusal(), LockRefusal::kAnotherCopy);
}

TEST(Win32Platform, FoldersForKolibraAreNoRootsSystemFoldersLinksOrFiles) {
  TempDir dir;
  const std::string file = JoinPath(dir.path, "file");
  std::FILE* f = std::fopen(file.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  Win32System sys;
  const std::string common = sys.CommonAppDataFolder();
  const std::string parentOfCommon = common.substr(0, common.find_last_of('\\'));
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  const struct { std::string path; bool ok; } cases[] = {
      {"C:\\", false}, {"C:", false}, {"C:/", false}, {"\\\\server\\share\\", false}, {"relative", false},
      {windows, false}, {std::string(windows) + "\\System32", false}, {common, false}, {parentOfCommon, false},
      {sys.ProgramFolder(), false}, {file, false},
      {JoinPath(common, "Kolibra"), true}, {dir.path, true}, {JoinPath(dir.path, "new\\sub"), true},
  };
  for (const auto& c : cases) {
    unsigned long error = 0;
    EXPECT_EQ(CheckFolderForKolibra(c.path, error) == SetupStatus::kDone, c.ok) << c.path << " " << error;
  }
}

}  // namespace
}  // namespace kolibra::testing
