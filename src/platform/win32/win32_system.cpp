#include "platform/win32/win32_system.h"

#include <shlobj.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace kolibra {
namespace {

constexpr int kCommonAppData = 35;  // CSIDL_COMMON_APPDATA

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// 64-bit FNV-1a, in hex: a short, fixed-length stand-in for a path that
// may be longer than a kernel object name may be.
std::string HashHex(const std::string& text) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string s(16, '0');
  for (int i = 15; i >= 0; --i, h >>= 4) s[static_cast<std::size_t>(i)] = kDigits[h & 15];
  return s;
}

// Opens (creating) path and locks its first byte exclusively, without
// waiting; an empty handle when the file cannot be opened or another holder
// has the lock. The file cannot be deleted while the lock is held.
OwnedHandle TakeLock(const std::string& path) {
  OwnedHandle h(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h || GetFileType(h.get()) != FILE_TYPE_DISK) return {};
  OVERLAPPED at = {};
  if (!LockFileEx(h.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    return {};
  }
  return h;
}

}  // namespace

bool Win32System::IsNtMajor6() {
  OSVERSIONINFOA vi = {};
  vi.dwOSVersionInfoSize = sizeof vi;
  if (!GetVersionExA(&vi)) return false;
  return vi.dwPlatformId == VER_PLATFORM_WIN32_NT && vi.dwMajorVersion == 6;
}

std::string Win32System::CommonAppDataFolder() {
  char buf[MAX_PATH + 1] = {};
  // Created if missing, as the shell offers; its NORVIKKOLIBRA sub-folder
  // is never created here.
  if (!SHGetSpecialFolderPathA(nullptr, buf, kCommonAppData, TRUE)) return "";
  return std::string(buf);  // up to the first NUL
}

std::string Win32System::ProgramFolder() {
  std::vector<char> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) break;
    if (n < buf.size()) {
      std::string path(buf.data(), n);
      const std::size_t sep = path.find_last_of("\\/");
      if (sep == std::string::npos) break;
      // "C:\prog.exe" lives in "C:\", not in "C:" (the current folder of C:).
      if (sep > 0 && path[sep - 1] == ':') return path.substr(0, sep + 1);
      return path.substr(0, sep);
    }
    if (buf.size() >= 32768) break;
    buf.resize(buf.size() * 2);
  }
  char cwd[MAX_PATH + 1];
  const DWORD n = GetCurrentDirectoryA(sizeof cwd, cwd);
  if (n > 0 && n < sizeof cwd) return std::string(cwd, n);
  return ".";
}

std::string Win32System::ReadUserValue(const std::string& keyPath, const std::string& name) {
  if (name.empty()) return "";
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
  // One byte more than the longest value, for its terminating NUL.
  std::vector<char> buf(kMaxValueLength + 1);
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(buf.size());
  const LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(buf.data()), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return "";  // ERROR_MORE_DATA: too long
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD number = 0;
    std::memcpy(&number, buf.data(), sizeof number);
    return std::to_string(number);
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return "";
  std::string value(buf.data(), size);
  if (!value.empty() && value.back() == '\0') value.pop_back();
  if (value.size() > kMaxValueLength) return "";
  return value;
}

std::string Win32System::InstanceMutexName(const std::string& folder) {
  std::string path = folder.empty() ? "." : folder;
  char full[32768];
  DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (n > 0 && n < sizeof full) path.assign(full, n);
  // The long form of each component, so that an 8.3 spelling names the same folder.
  n = GetLongPathNameA(path.c_str(), full, sizeof full);
  if (n > 0 && n < sizeof full) path.assign(full, n);
  for (char& c : path) {
    if (c == '/') c = '\\';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  while (path.size() > 1 && IsSeparator(path.back())) path.pop_back();
  return "Local\\KolibraInstance-" + HashHex(path);
}

bool Win32System::AcquireSingleInstance(const std::string& lockFolder) {
  if (instanceMutex_ && instanceLock_) return true;  // already held by this object
  // The mutex is per session ("Local\"); the lock file also catches a copy
  // in another session that uses the same folder.
  OwnedHandle mutex(CreateMutexA(nullptr, FALSE, InstanceMutexName(lockFolder).c_str()));
  if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return false;
  OwnedHandle lock = TakeLock(JoinPath(lockFolder, "kolibra.lock"));
  if (!lock) return false;
  instanceMutex_ = std::move(mutex);
  instanceLock_ = std::move(lock);
  return true;
}

bool Win32System::AcquireDataFolderLock(const std::string& dataFolder) {
  if (dataLock_) return true;
  dataLock_ = TakeLock(JoinPath(dataFolder, "kolibra-data.lock"));
  return static_cast<bool>(dataLock_);
}

}  // namespace kolibra
