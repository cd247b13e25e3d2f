#include "platform/win32/win32_system.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

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

// True when the file's owner is the user this process runs as.
bool OwnedByThisUser(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &sd) != ERROR_SUCCESS) {
    return false;
  }
  bool same = false;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    alignas(TOKEN_USER) char buf[256];
    DWORD size = 0;
    if (GetTokenInformation(token, TokenUser, buf, sizeof buf, &size)) {
      same = EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buf)->User.Sid) != FALSE;
    }
    CloseHandle(token);
  }
  LocalFree(sd);
  // Files made by an administrator belong to the Administrators group.
  return same || (owner != nullptr && IsWellKnownSid(owner, WinBuiltinAdministratorsSid) &&
                  IsUserAnAdmin());
}

// Opens (creating, for its owner only) path as the name itself and locks its
// first byte exclusively, without waiting. A reparse point or a file of
// another user is refused; the file cannot be deleted while the lock is held.
LockRefusal TakeLock(const std::string& path, OwnedHandle& lock) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;OW)", SDDL_REVISION_1, &sd, nullptr);
  SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
  OwnedHandle h(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, sd != nullptr ? &sa : nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const DWORD error = GetLastError();
  if (sd != nullptr) LocalFree(sd);
  if (!h) return error == ERROR_ACCESS_DENIED ? LockRefusal::kOtherUser : LockRefusal::kUnavailable;
  BY_HANDLE_FILE_INFORMATION bh;
  if (GetFileType(h.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(h.get(), &bh) ||
      (bh.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    return LockRefusal::kUnavailable;
  }
  if (!OwnedByThisUser(h.get())) return LockRefusal::kOtherUser;
  OVERLAPPED at = {};
  if (!LockFileEx(h.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    return LockRefusal::kAnotherCopy;
  }
  lock = std::move(h);
  return LockRefusal::kNone;
}

// Volume serial number and file index of what path names (a folder too).
std::string IdentityOf(const std::string& path) {
  const OwnedHandle h(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
  BY_HANDLE_FILE_INFORMATION bh;
  if (!h || !GetFileInformationByHandle(h.get(), &bh)) return "";
  return std::to_string(bh.dwVolumeSerialNumber) + ":" + std::to_string(bh.nFileIndexHigh) + ":" +
         std::to_string(bh.nFileIndexLow);
}

constexpr const char* kDataLockName = "kolibra-data.lock";

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

std::string Win32System::FolderKey(const std::string& folder) {
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
  return HashHex(path);
}

std::string Win32System::InstanceMutexName(const std::string& folder) {
  return "Local\\KolibraInstance-" + FolderKey(folder);
}

bool Win32System::AcquireSingleInstance(const std::string& lockFolder) {
  if (instanceMutex_ && instanceLock_) return true;  // already held by this object
  // The mutex is per session ("Local\"); the lock file also catches a copy
  // in another session that uses the same folder.
  OwnedHandle mutex(CreateMutexA(nullptr, FALSE, InstanceMutexName(lockFolder).c_str()));
  refusal_ = LockRefusal::kAnotherCopy;
  if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return false;
  OwnedHandle lock;
  refusal_ = TakeLock(JoinPath(lockFolder, "kolibra.lock"), lock);
  if (!lock) return false;
  instanceMutex_ = std::move(mutex);
  instanceLock_ = std::move(lock);
  return true;
}

bool Win32System::AcquireDataFolderLock(const std::string& dataFolder) {
  if (dataLock_) return true;
  refusal_ = TakeLock(JoinPath(dataFolder, kDataLockName), dataLock_);
  if (!dataLock_) return false;
  dataFolder_ = dataFolder;
  dataFolderId_ = IdentityOf(dataFolder);
  dataLockId_ = IdentityOf(JoinPath(dataFolder, kDataLockName));
  return true;
}

DataLockState Win32System::CheckDataFolderLock() {
  const std::string lockPath = JoinPath(dataFolder_, kDataLockName);
  if (dataLock_ && !dataFolderId_.empty() && IdentityOf(dataFolder_) == dataFolderId_ &&
      IdentityOf(lockPath) == dataLockId_) {
    return DataLockState::kHeld;
  }
  OwnedHandle lock;
  if (TakeLock(lockPath, lock) != LockRefusal::kNone) return DataLockState::kLost;
  dataLock_ = std::move(lock);
  dataFolderId_ = IdentityOf(dataFolder_);
  dataLockId_ = IdentityOf(lockPath);
  return DataLockState::kRetaken;
}

}  // namespace kolibra
