// What an installer asks of the program on the machine it sets up: folders
// that every ordinary user can write, and an orderly close of the copies
// that run from the program's folder before its files are replaced.
#pragma once

#include <cstdint>
#include <string>

namespace kolibra {

enum class SetupStatus {
  kDone,
  kNotOnThisSystem,  // the system has no such step (POSIX: the package does it)
  kFailed,
};

// Creates path (with any missing parent) and lets the machine's ordinary
// users (the built-in Users group) create, change and delete files and
// sub-folders in it, inherited by everything below; the rights already there
// stay. A folder that is a link (reparse point) is refused, so that the
// rights never reach what it points to. error: the system's code on kFailed.
SetupStatus MakeFolderWritableByAllUsers(const std::string& path, unsigned long& error);

// Asks every running copy of the program whose image lives in this program's
// folder to close (WM_CLOSE to its main window, found whether top-level or
// message-only: the same request an operator's close makes), then waits up
// to waitMs for those processes to end. asked: how many were asked. kFailed
// when one still runs at the end of the wait.
SetupStatus CloseRunningCopies(int64_t waitMs, int& asked);

}  // namespace kolibra
