// The polling cycle: the tick of Timer21, detection of the slot to serve, the
// job trigger, and the polling interval.
#pragma once

#include <cstdint>
#include <string>

#include "app/app_context.h"

namespace kolibra {

// Creates the polling timer Timer21 on the event loop (disabled).
void CreatePollingTimer(AppContext& ctx);
// Enables or disables Timer21 at the given interval (restarting its period).
void SetPollingTimer(AppContext& ctx, int64_t intervalMs, bool enabled);
// Enables or disables Timer21 keeping its current interval.
void EnablePollingTimer(AppContext& ctx, bool enabled);
bool PollingTimerEnabled(AppContext& ctx);

// The polling tick.
void Timer21_Timer(AppContext& ctx);
// The job trigger, run synchronously by every tick that polls.
void JobTrigger(AppContext& ctx);
// Detection: the slot 1..4 whose job is to run now, or 0.
int16_t iVerifyStartPos1(AppContext& ctx);

// Turns the operator's polling value into the polling interval; with save,
// writes KBTIMER1.TXT.
void CalculateTimer(AppContext& ctx, const std::string& value, bool save);
// Text KBTIMER1.TXT holds for a polling interval: milliseconds below 1000,
// else seconds with "." before any fraction.
std::string TimerFileText(int32_t intervalMs);
// The operator's "Set timer" button.
void cmdChgTimer_Click(AppContext& ctx);

}  // namespace kolibra
