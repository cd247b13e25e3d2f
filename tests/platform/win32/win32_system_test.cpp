#include "platform/win32/win32_system.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/win32/win32_file_system.h"
#include "win32_test_util.h"

namespace kolibra {
namespace {

using testing::TempDir;

// A throwaway key under HKEY_CURRENT_USER, deleted with its values.
struct TempKey {
  TempKey() : path("Software\\KolibraTest-" + std::to_string(GetCurrentProcessId())) {
    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  }
  ~TempKey() {
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
  }
  void Set(const char* name, DWORD type, const std::string& data) {
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
  }
  std::string path;
  HKEY key = nullptr;
};

TEST(Win32SystemTest, ReadsTextValuesOfTheCurrentUser) {
  TempKey k;
  ASSERT_NE(k.key, nullptr);
  const std::string longest(Win32System::kMaxValueLength, 'x');
  const DWORD number = 42;
  k.Set("CustomPathDataDir", REG_SZ, std::string("D:\\Kolibra dati\\\0", 17));
  k.Set("Expand", REG_EXPAND_SZ, std::string("%TEMP%\\k\0", 9));  // not expanded
  k.Set("NoNul", REG_SZ, "C:\\dati");                             // stored without its NUL
  k.Set("Number", REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof number));
  k.Set("Binary", REG_BINARY, "C:\\dati");
  k.Set("Empty", REG_SZ, std::string("\0", 1));
  k.Set("Long", REG_SZ, longest + '\0');
  k.Set("TooLong", REG_SZ, longest + "y" + '\0');
  const std::pair<const char*, std::string> cases[] = {
      {"customPATHdatadir", "D:\\Kolibra dati\\"}, {"Expand", "%TEMP%\\k"}, {"NoNul", "C:\\dati"},
      {"Number", "42"},  {"Binary", ""}, {"Empty", ""}, {"Long", longest}, {"TooLong", ""}, {"Missing", ""},
  };
  Win32System sys;
  for (const auto& [name, value] : cases) EXPECT_EQ(sys.ReadUserValue(k.path, name), value) << name;
  EXPECT_EQ(sys.ReadUserValue(k.path + "\\Missing", "CustomPathDataDir"), "");
}

TEST(Win32SystemTest, FoldersAreThereAndHoldTheProgram) {
  Win32System sys;
  Win32FileSystem fs;
  EXPECT_TRUE(fs.IsDirectory(sys.CommonAppDataFolder()));
  char exe[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
  ASSERT_GT(n, 0u);
  const std::string path(exe, n);
  EXPECT_TRUE(fs.Exists(JoinPath(sys.ProgramFolder(), path.substr(path.find_last_of('\\') + 1))));
}

TEST(Win32SystemTest, OneCopyPerSettingsFolderWhateverItsSpelling) {
  TempDir dir, other;
  std::string spelled = dir.path;  // lower case, forward slashes, trailing separator
  for (char& c : spelled) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  spelled += '/';
  const std::string name = Win32System::InstanceMutexName(dir.path);
  EXPECT_EQ(Win32System::InstanceMutexName(spelled), name);
  EXPECT_NE(Win32System::InstanceMutexName(other.path), name);
  const auto mutexExists = [&] {
    const HANDLE m = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    if (m != nullptr) CloseHandle(m);
    return m != nullptr;
  };
  {
    Win32System first;
    ASSERT_TRUE(first.AcquireSingleInstance(dir.path));
    EXPECT_TRUE(first.AcquireSingleInstance(dir.path));  // already its own
    EXPECT_TRUE(mutexExists());
    EXPECT_FALSE(Win32System().AcquireSingleInstance(spelled));
    EXPECT_TRUE(Win32System().AcquireSingleInstance(other.path));
  }
  EXPECT_FALSE(mutexExists());  // released with its owner
  EXPECT_TRUE(Win32System().AcquireSingleInstance(dir.path));

  // The data-folder lock is a lock of its own; a lock whose file cannot be
  // created is not taken.
  Win32System settings, data;
  ASSERT_TRUE(settings.AcquireSingleInstance(dir.path));
  ASSERT_TRUE(data.AcquireDataFolderLock(dir.path));
  EXPECT_FALSE(Win32System().AcquireDataFolderLock(dir.path));
  EXPECT_EQ(data.CheckDataFolderLock(), DataLockState::kHeld);
  // The held lock file can be neither deleted nor shared.
  EXPECT_FALSE(DeleteFileA(JoinPath(dir.path, "kolibra-data.lock").c_str()));
  Win32System second;
  EXPECT_FALSE(second.AcquireDataFolderLock(dir.path));
  EXPECT_EQ(second.LastLockRefusal(), LockRefusal::kAnotherCopy);
  EXPECT_FALSE(Win32System().AcquireDataFolderLock(dir.path + "\\missing"));
  EXPECT_FALSE(Win32System().AcquireSingleInstance(dir.path + "\\missing"));
}

}  // namespace
}  // namespace kolibra
