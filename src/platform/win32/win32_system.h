// Operating-system facts and stores on Windows: the version record, the
// shell's special folders, the current user's registry and the locks that
// mark a running copy.
#pragma once

#include <string>

#include "platform/system.h"
#include "platform/win32/win32_owned_handle.h"

namespace kolibra {

class Win32System : public System {
 public:
  // Longest value returned, without its terminating NUL; a longer one reads
  // as absent.
  static constexpr std::size_t kMaxValueLength = 1024;

  Win32System() = default;
  Win32System(const Win32System&) = delete;
  Win32System& operator=(const Win32System&) = delete;

  // GetVersionExA: platform VER_PLATFORM_WIN32_NT and major version 6. The
  // program's manifest declares no system newer than Windows 8, so Windows
  // 8.1 and later report 6.2 here.
  bool IsNtMajor6() override;
  // SHGetSpecialFolderPathA(CSIDL_COMMON_APPDATA); empty on failure.
  std::string CommonAppDataFolder() override;
  // The folder of GetModuleFileNameA (the current folder when unknown).
  std::string ProgramFolder() override;
  // A REG_SZ or REG_EXPAND_SZ value (not expanded) under HKEY_CURRENT_USER,
  // without its final NUL; a REG_DWORD as its decimal text. Empty when the
  // key or value is missing, of another type, or longer than kMaxValueLength.
  std::string ReadUserValue(const std::string& keyPath, const std::string& name) override;
  // A named mutex for the settings folder (one per folder, whatever its
  // spelling) plus LockFileEx on lockFolder\kolibra.lock; both held until
  // this object is destroyed.
  bool AcquireSingleInstance(const std::string& lockFolder) override;
  // LockFileEx on dataFolder\kolibra-data.lock. Lock files take the
  // folder's inherited access list (whoever the folder trusts may run the
  // driver there), are never opened through a reparse point or a second
  // name, and one left by another account that this one cannot open is
  // replaced unless a running driver holds it. A lock held by a copy of
  // another session is told apart (kOtherSession), as is a folder this
  // user cannot make the file in (kNotWritable).
  bool AcquireDataFolderLock(const std::string& dataFolder) override;
  LockRefusal LastLockRefusal() override { return refusal_; }
  // Volume serial number and file index of the folder and of its lock file
  // against those noted when the lock was taken.
  DataLockState CheckDataFolderLock() override;

  // The mutex name that stands for folder: its full path, upper case, one
  // separator style, no trailing separator.
  static std::string InstanceMutexName(const std::string& folder);
  // The identity of a folder in kernel object names: a hash of its full,
  // long, upper-case path, so that every spelling of the folder gives it.
  static std::string FolderKey(const std::string& folder);

 private:
  OwnedHandle instanceMutex_;
  OwnedHandle instanceLock_;
  OwnedHandle dataLock_;
  OwnedHandle dataMutex_;
  std::string dataFolder_;
  std::string dataFolderId_;
  std::string dataLockId_;
  LockRefusal refusal_ = LockRefusal::kNone;
};

}  // namespace kolibra
