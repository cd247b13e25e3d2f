// What the operator window keeps of its own, apart from the driver's facts:
// whether it is watched, the polling blink it shows, the tray's job
// announcement and the test button's readiness.
#pragma once

#include <optional>

#include "core/app_context.h"

namespace kolibra {

struct WindowFacts {
  // The operator follows the driver: the window is on the screen or,
  // headless, the log. The window's controls are written only then.
  bool watched = false;
  bool blink = false;
  // The polling blink as last shown to a watching operator (none yet).
  std::optional<bool> blinkShown;
  bool jobAnnounced = false;      // the tray says a job runs
  bool testReceiptReady = true;   // " Esegui Test" takes a click
};

// The context's window facts, created on first use.
WindowFacts& Window(AppContext& ctx);
// As they are; the defaults while the window layer has not used them.
const WindowFacts& Window(const AppContext& ctx);

}  // namespace kolibra
