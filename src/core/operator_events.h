// What the driver tells the operator (a status also leaves a log line), and
// the operator actions that lower layers take themselves.
#pragma once

#include <string>

#include "core/app_context.h"

namespace kolibra {

// The status box.
void ShowStatus(AppContext& ctx, const std::string& text);
// The operator starts following the driver (the window comes on the screen;
// headless, the log from start-up on): the dump boxes are told afresh, and
// an unticked slot's dump is due again.
void OperatorWatches(AppContext& ctx);
// Modal message box (headless: logged, never blocks).
void ShowMessage(AppContext& ctx, const std::string& text);

// True when slot 1..4 takes jobs: its box is ticked and its port available.
bool SlotTakesJobs(const AppContext& ctx, int slot);
// Logs which slots take jobs (+ why, when some were switched off), with a
// warning when none does.
void LogSlotsTakingJobs(AppContext& ctx, const std::string& why = "");

// The job cycle is told (see CycleEvents); nothing happens before the
// cycle is installed.
void TellIntervalChosen(AppContext& ctx, int32_t intervalMs);
void TellSlotSwitched(AppContext& ctx, bool ticked);
void TellTestReceiptWritten(AppContext& ctx, const TestReceiptFiles& files);

}  // namespace kolibra
