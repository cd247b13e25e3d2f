#include "platform/setup_actions.h"

namespace kolibra {

// On Linux the package makes the folders (owner, group, setgid mode) and the
// service manager stops the driver: nothing for the program to do.
SetupStatus MakeFolderWritableByAllUsers(const std::string&, unsigned long& error) {
  error = 0;
  return SetupStatus::kNotOnThisSystem;
}

SetupStatus CloseRunningCopies(int64_t, int& asked) {
  asked = 0;
  return SetupStatus::kNotOnThisSystem;
}

SetupStatus CheckFolderForKolibra(const std::string&, unsigned long& error) {
  error = 0;
  return SetupStatus::kNotOnThisSystem;
}

SetupStatus StartClosedCopiesAgain(const std::vector<std::string>&, bool& started) {
  started = false;
  return SetupStatus::kNotOnThisSystem;
}

}  // namespace kolibra
