// The command line of the kolibra program.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/startup.h"

namespace kolibra {

struct CommandLine {
  enum class Kind { kRun, kConvert, kCtl, kSubmit, kHelp, kVersion, kPrepareFolders, kCloseRunning,
                    kStartAgain, kError };
  Kind kind = Kind::kRun;
  DriverOptions options;
  bool headlessAsked = false;  // --headless: no window even where there is one
  std::vector<std::pair<int, std::string>> serialDevices;  // slot, device path
  std::vector<std::string> convertArgs;                    // words after "convert"
  std::vector<std::string> ctlArgs;                        // words after "ctl"
  std::vector<std::string> submitArgs;                     // words after "submit"
  std::string error;                                       // for kError
};

// args are the words after the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText();

// The whole program: parses args, then runs the driver on the platform of
// the system (or the convert or ctl command) and returns the exit code.
int RunKolibra(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The same for the windowed program (kolibra.exe): a start it refuses (a
// bad command line, a missing folder, a lock it cannot take) is also shown
// in a message window the operator acknowledges before the program ends.
int RunWindowedProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kolibra
