// Operating-system facts and stores: version, special folders, the per-user
// settings store and the single-instance lock.
#pragma once

#include <string>

namespace kolibra {

// Why a lock could not be taken.
enum class LockRefusal {
  kNone,
  kAnotherCopy,  // another copy (of the same user) holds it
  kOtherUser,    // the lock file belongs to another user: it is not shared
  kUnavailable,  // the lock file cannot be made or opened (or is no plain file)
  kOtherSession, // a copy running in another session (another user's logon) holds it
  kNotWritable,  // the folder does not let this user make the lock file
};

// The data folder's lock, as found at a check.
enum class DataLockState {
  kHeld,     // the path names the locked folder, and its lock file is the one held
  kRetaken,  // it did not; what the path names now has been locked instead
  kLost,     // it did not, and what the path names now could not be locked
};

class System {
 public:
  virtual ~System() = default;
  // True only on the NT family with major version exactly 6 (never on POSIX).
  virtual bool IsNtMajor6() = 0;
  // The application-data folder common to all users; empty when unknown.
  virtual std::string CommonAppDataFolder() = 0;
  // The folder of the running program.
  virtual std::string ProgramFolder() = 0;
  // A text value of the per-user store under keyPath (such as
  // "SOFTWARE\\Norvik Engineering\\NORVIKKOLIBRA"); empty when absent.
  virtual std::string ReadUserValue(const std::string& keyPath, const std::string& name) = 0;
  // Takes the lock that marks a running copy in lockFolder (the settings
  // folder); false when another copy holds it or it cannot be taken at all.
  // The lock is held until the process ends. Lock files are made for the
  // driver's user only and opened without following a link.
  virtual bool AcquireSingleInstance(const std::string& lockFolder) = 0;
  // The same for the data folder, so that two copies with different settings
  // folders never serve the same jobs.
  virtual bool AcquireDataFolderLock(const std::string& dataFolder) = 0;
  // Why the last Acquire call above failed (kNone after a success).
  virtual LockRefusal LastLockRefusal() = 0;
  // Checks that the data folder's path still names the folder locked by
  // AcquireDataFolderLock() and that its lock file is still the one held
  // (a folder renamed away, a lock file deleted by someone else); if not,
  // tries once to lock what the path names now.
  virtual DataLockState CheckDataFolderLock() = 0;
  // True when a service manager started this process as a service's own
  // program: the manager then owns its life (it is stopped through the
  // manager, which would otherwise take an orderly exit as the service's end).
  virtual bool StartedAsService() { return false; }
};

}  // namespace kolibra
