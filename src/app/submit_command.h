// `kolibra submit`: the calling application's side of the job files, done
// right. Sends one command file to the driver serving a data folder and waits
// for its result.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "platform/file_system.h"

namespace kolibra {

// Exit codes of `kolibra submit`.
enum SubmitExit : int {
  kSubmitPrinted = 0,     // FINESCO: the receipt was printed
  kSubmitNotPrinted = 1,  // SR_ERR (E520 aside), or the job was never handed over
  kSubmitUsage = 2,       // bad command line
  kSubmitUncertain = 3,   // E520, or the start file went without a result
  kSubmitTimedOut = 4,    // the start file is still there: the job may still run
};

inline constexpr int64_t kSubmitDefaultTimeoutMs = 120000;
// How often the job files are looked at while waiting.
inline constexpr int64_t kSubmitCheckMs = 100;
// The slot's claim file (+ ".00n"): a client holds an exclusive lock on it
// from writing its job to removing its results. The driver ignores it.
inline constexpr const char* kSubmitClaimBase = "~KBCLAIM";

struct SubmitRequest {
  std::string dataDir;
  int slot = 1;
  int64_t timeoutMs = kSubmitDefaultTimeoutMs;
  std::string commands;  // the command file's bytes
};

// Claims the slot (waiting while another client holds its claim), waits
// until the slot is free, clears its old result files, writes the command
// file under a temporary name of its own and renames it into place, writes
// the start file, then waits until the start file is gone and a result file
// is in place. Prints the result (stdout: "finesco" and the receipt's
// records; stderr: the error line or why there is none), removes the result
// files it read, and returns a SubmitExit.
// Between checks it sleeps in loop.Wait().
int SubmitJob(FileSystem& fs, EventLoop& loop, const SubmitRequest& request, std::ostream& out,
              std::ostream& err);

std::string SubmitHelpText();

// args are the words after "submit": [--data-dir DIR] [--slot N]
// [--timeout S] FILE. Without --data-dir the driver's own choice applies.
int RunSubmitCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kolibra
