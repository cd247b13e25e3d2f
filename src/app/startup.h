// The program's life: start-up, the main loop, and the orderly shutdown.
#pragma once

#include <string>

#include "conversion/exit_codes.h"
#include "core/app_context.h"
#include "platform/control_channel.h"

namespace kolibra {

struct DriverOptions {
  std::string settingsDir;  // empty: the program's own folder
  std::string dataDir;      // empty: chosen from the system (common folder, override)
  int ecrPort = 0;          // TCP port of the ECR; 0: the usual 8000
  bool headless = true;     // the log on stderr stands for the window
};

// Converts "SALE,N1,P1000;" with the line converter and checks the result.
bool ConverterSelfTest(AppContext& ctx);

enum class StartResult { kStarted, kFailed, kAnotherCopy };

// The start-up sequence; anything but kStarted means the program must end.
StartResult StartDriver(AppContext& ctx, const DriverOptions& options);
// The shutdown sequence; marks the driver ended.
void ShutDown(AppContext& ctx);
// A termination request (signal, exit command): a running job or dump is told
// to give up; the shutdown itself runs from the main loop once it is over.
void RequestShutdown(AppContext& ctx);
// Delivers events until the shutdown has run.
void RunMainLoop(AppContext& ctx);

// Everything from the single-instance check to the end; returns the exit code.
// With a control channel, the driver answers `kolibra ctl` while it runs.
int RunDriver(AppContext& ctx, const DriverOptions& options, ControlChannel* control = nullptr);

}  // namespace kolibra
