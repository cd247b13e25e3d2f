// Exit codes of the kolibra program: the driver, the convert and ctl commands.
#pragma once

namespace kolibra {

enum ExitCode : int {
  kExitOk = 0,                  // shut down normally; convert: lines printed
  kExitStartupFailed = 1,       // self-test failed or a folder is missing
  kExitConversionFailed = 1,    // convert: the file was refused or the lines not written
  kExitUsage = 2,               // bad command line
  kExitAnotherCopy = 3,    // another copy serves the same settings or data folder
  kExitRefused = 1,             // ctl: the driver refused the action
  kExitNoDriver = 3,            // ctl: no driver runs on the settings folder
  kExitNoAnswer = 4,            // ctl: the driver did not answer
};

}  // namespace kolibra
