// Operating-system facts and stores: version, special folders, the per-user
// settings store and the single-instance lock.
#pragma once

#include <string>

namespace kolibra {

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
  // The lock is held until the process ends.
  virtual bool AcquireSingleInstance(const std::string& lockFolder) = 0;
  // The same for the data folder, so that two copies with different settings
  // folders never serve the same jobs.
  virtual bool AcquireDataFolderLock(const std::string& dataFolder) = 0;
};

}  // namespace kolibra
