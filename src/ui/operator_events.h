// Writes to the operator window that also leave a log line when headless.
#pragma once

#include <string>

#include "app/app_context.h"

namespace kolibra {

// Status box Text2.
void ShowStatus(AppContext& ctx, const std::string& text);
// Tray icon state and tip.
void SetTrayState(AppContext& ctx, TrayIcon icon, const std::string& tip);
// Modal message box (headless: logged, never blocks).
void ShowMessage(AppContext& ctx, const std::string& text);

}  // namespace kolibra
