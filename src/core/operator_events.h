// Writes to the operator window that also leave a log line when headless,
// and the operator actions that lower layers take themselves.
#pragma once

#include <string>

#include "core/app_context.h"

namespace kolibra {

// The status box.
void ShowStatus(AppContext& ctx, const std::string& text);
// Tray icon state and tip.
void SetTrayState(AppContext& ctx, TrayIcon icon, const std::string& tip);
// Modal message box (headless: logged, never blocks).
void ShowMessage(AppContext& ctx, const std::string& text);

// True when slot 1..4 takes jobs: its box is ticked and its port available.
bool SlotTakesJobs(const AppContext& ctx, int slot);
// Logs which slots take jobs (+ why, when some were switched off), with a
// warning when none does.
void LogSlotsTakingJobs(AppContext& ctx, const std::string& why = "");

// A click on the enable box of slot 1..4 (after its value changed): the
// polling follows the box, and the link settings are locked while it is ticked.
void SlotBoxClicked(AppContext& ctx, int slot);

}  // namespace kolibra
