// Operating-system facts and stores on POSIX.
//
// The per-user store is a text file per key: the key path (backslashes turned
// into slashes) under $XDG_CONFIG_HOME (default $HOME/.config), file
// "values", one "name=value" per line (LF or CR LF). Names match without
// regard to case, as the Windows store does.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/system.h"

namespace kolibra {

class PosixSystem : public System {
 public:
  // Longest value returned; a longer one reads as absent, as it would from a
  // fixed-size buffer that it does not fit.
  static constexpr std::size_t kMaxValueLength = 1024;

  PosixSystem() = default;
  ~PosixSystem() override;
  PosixSystem(const PosixSystem&) = delete;
  PosixSystem& operator=(const PosixSystem&) = delete;

  bool IsNtMajor6() override { return false; }
  // "/var/lib" when it exists.
  std::string CommonAppDataFolder() override;
  // The folder of /proc/self/exe (the current folder when unknown).
  std::string ProgramFolder() override;
  std::string ReadUserValue(const std::string& keyPath, const std::string& name) override;
  // flock() on lockFolder/kolibra.lock (mode 0600, O_NOFOLLOW, the driver's
  // user's own), held open for the process's life.
  bool AcquireSingleInstance(const std::string& lockFolder) override;
  // The same on dataFolder/kolibra-data.lock; the folder's device and inode
  // are noted.
  bool AcquireDataFolderLock(const std::string& dataFolder) override;
  LockRefusal LastLockRefusal() override { return refusal_; }
  // stat() of the folder's path and lstat() of its lock file against what is
  // held.
  DataLockState CheckDataFolderLock() override;
  // systemd's INVOCATION_ID is set and SYSTEMD_EXEC_PID names this process
  // (children of a service inherit both, not the number); without
  // SYSTEMD_EXEC_PID (systemd before 248), the parent is PID 1.
  bool StartedAsService() override;

  // The file that holds the values of keyPath.
  static std::string UserStoreFile(const std::string& keyPath);

 private:
  int lockFd_ = -1;
  int dataLockFd_ = -1;
  std::string dataFolder_;
  struct stat dataFolderId_ = {};
  LockRefusal refusal_ = LockRefusal::kNone;
};

}  // namespace kolibra
