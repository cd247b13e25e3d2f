// The program's life: start-up, the main loop, and the orderly shutdown.
#pragma once

#include <functional>
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

// What an operator window adds to the program's life; any hook may be empty.
struct DriverHooks {
  std::function<void()> startupBegins;   // after the single-instance check: the splash
  std::function<void()> startupEnded;    // after the start-up sequence, whatever its result
  std::function<void()> shutdownBegins;  // the main window goes, the closing notice shows
  std::function<void()> shutdownEnded;   // the closing notice goes
};

// Converts "SALE,N1,P1000;" with the line converter and checks the result.
bool ConverterSelfTest(AppContext& ctx);

enum class StartResult { kStarted, kFailed, kAnotherCopy };

// The start-up sequence; anything but kStarted means the program must end.
StartResult StartDriver(AppContext& ctx, const DriverOptions& options);
// The shutdown sequence; marks the driver ended.
void ShutDown(AppContext& ctx, const DriverHooks& hooks = {});
// A termination request (signal, exit command): a running job or dump is told
// to give up; the shutdown itself runs from the main loop once it is over.
void RequestShutdown(AppContext& ctx);
// The user's session ends (Windows logoff or shutdown) and the process with
// it: the shutdown runs now. A job still on the link cannot end; it is left
// to the journal, which answers it at the next start.
void EndSession(AppContext& ctx, const DriverHooks& hooks = {});
// Delivers events until the shutdown has run.
void RunMainLoop(AppContext& ctx, const DriverHooks& hooks = {});

// Everything from the single-instance check to the end; returns the exit code.
// With a control channel, the driver answers `kolibra ctl` while it runs.
int RunDriver(AppContext& ctx, const DriverOptions& options, ControlChannel* control = nullptr,
              const DriverHooks& hooks = {});

}  // namespace kolibra
