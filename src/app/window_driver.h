// The driver with its operator window: the splash during start-up, the main
// window hidden in the tray, the closing notice during shutdown.
#pragma once

#include "app/startup.h"
#include "platform/control_channel.h"
#include "platform/platform.h"
#include "platform/window_host.h"

namespace kolibra {

// The splash is shown this long before start-up runs, so that it can be read.
inline constexpr int64_t kSplashLeastMs = 1500;

// Runs the driver on platform with the window host (and the control channel
// of `kolibra ctl`, where there is one); returns the exit code.
int RunWindowedDriver(Platform& platform, WindowHost& host, const DriverOptions& options,
                      ControlChannel* control = nullptr);

}  // namespace kolibra
