// What an installer asks of the program on the machine it sets up: folders
// that every ordinary user can write, and an orderly close of the copies
// that run from the program's folder before its files are replaced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
// When copies were asked and all ended, notes for this user that the
// program is to run again once its new files are in place.
SetupStatus CloseRunningCopies(int64_t waitMs, int& asked);

// What must never be opened to every user: a drive or share root (also
// "C:", the current folder of drive C), a folder of the system (Windows,
// the program folders, the profiles, ProgramData itself, or one that holds
// any of them), this program's folder, a link, or anything else that is
// not a folder. A missing folder passes: it is made for Kolibra. kFailed
// with error set to the system's code of the refusal.
SetupStatus CheckFolderForKolibra(const std::string& path, unsigned long& error);

// After an installer put new files in place: when CloseRunningCopies()
// closed copies for this user in the last minutes, forgets that and starts
// this program's windowed image again with arguments. started: whether it
// did. kDone also when nothing was to be started.
SetupStatus StartClosedCopiesAgain(const std::vector<std::string>& arguments, bool& started);

}  // namespace kolibra
