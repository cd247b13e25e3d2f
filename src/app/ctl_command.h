// `kolibra ctl`: one operator command to the driver that runs on a settings
// folder, through the folder's control endpoint.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace kolibra {

// How long the command waits for the driver's answer. The longest action,
// "Reset Connessione", takes a few seconds, more when the connection is slow
// to close.
inline constexpr int64_t kCtlTimeoutMs = 30000;

std::string CtlHelpText();

// args are the words after "ctl". Prints the driver's answer and returns the
// exit code: 0 done, 1 refused, 2 bad command line, 3 no driver, 4 no answer.
int RunCtlCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kolibra
