#include "platform/win32/win32_system.h"

#include <windows.h>

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

// Opens (creating) path as the name itself and locks its first byte
// exclusively, without waiting; the file cannot be deleted while the lock is
// held. A new file takes the folder's inherited access list: the folder's
// trust (every user of the machine, in the folders the installer prepared)
// decides who may use it, so whichever account runs the driver there can.
// A file left by a driver of another account that this one may not open
// (an owner-only one of an older version) is replaced when no driver holds
// it; a reparse point, a folder or a file with other names is refused.
LockRefusal TakeLock(const std::string& path, OwnedHandle& lock) {
  constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
  constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  OwnedHandle h(CreateFileA(path.c_str(), kAccess, kShare, nullptr, OPEN_ALWAYS, kFlags, nullptr));
  DWORD error = GetLastError();
  if (!h && error == ERROR_ACCESS_DENIED) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    // Nothing there: the folder does not let this user make files.
    if (attributes == INVALID_FILE_ATTRIBUTES) return LockRefusal::kNotWritable;
    if (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return LockRefusal::kUnavailable;
    // A running driver keeps it open without delete sharing.
    if (!DeleteFileA(path.c_str())) {
      return GetLastError() == ERROR_SHARING_VIOLATION ? LockRefusal::kAnotherCopy : LockRefusal::kOtherUser;
    }
    h = OwnedHandle(CreateFileA(path.c_str(), kAccess, kShare, nullptr, CREATE_NEW, kFlags, nullptr));
    error = GetLastError();
  }
  if (!h) return error == ERROR_SHARING_VIOLATION ? LockRefusal::kAnotherCopy : LockRefusal::kUnavailable;
  BY_HANDLE_FILE_INFORMATION bh;
  if (GetFileType(h.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(h.get(), &bh) ||
      (bh.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) || bh.nNumberOfLinks != 1) {
    return LockRefusal::kUnavailable;
  }
  OVERLAPPED at = {};
  if (!LockFileEx(h.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    return LockRefusal::kAnotherCopy;
  }
  lock = std::move(h);
  return LockRefusal::kNone;
}

// A per-session mutex named for folder: taken here when no copy of this
// session has it, so that a lock refused afterwards is held by a copy of
// another session.
OwnedHandle SessionMutex(const std::string& prefix, const std::string& folder, bool& taken) {
  OwnedHandle mutex(CreateMutexA(nullptr, FALSE, (prefix + Win32System::FolderKey(folder)).c_str()));
  taken = mutex && GetLastError() != ERROR_ALREADY_EXISTS;
  return mutex;
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
  if (refusal_ == LockRefusal::kAnotherCopy) refusal_ = LockRefusal::kOtherSession;
  if (!lock) return false;
  instanceMutex_ = std::move(mutex);
  instanceLock_ = std::move(lock);
  return true;
}

bool Win32System::AcquireDataFolderLock(const std::string& dataFolder) {
  if (dataLock_) return true;
  bool first = false;
  OwnedHandle mutex = SessionMutex("Local\\KolibraData-", dataFolder, first);
  refusal_ = TakeLock(JoinPath(dataFolder, kDataLockName), dataLock_);
  if (refusal_ == LockRefusal::kAnotherCopy && first) refusal_ = LockRefusal::kOtherSession;
  if (!dataLock_) return false;
  dataMutex_ = std::move(mutex);
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
