// The polling cycle: the polling tick, detection of the slot to serve, the
// job trigger, and the polling interval.
#pragma once

#include <cstdint>
#include <string>

#include "core/app_context.h"

namespace kolibra {

// Creates the polling timer with OnPollTick as its handler (disabled).
void InstallPollTimer(AppContext& ctx);

// The polling tick.
void OnPollTick(AppContext& ctx);
// The job trigger, run synchronously by every tick that polls.
void ServeNextJob(AppContext& ctx);
// Detection: the slot 1..4 whose job is to run now, or 0.
int16_t FindSlotToServe(AppContext& ctx);

// Turns the operator's polling value into the polling interval; with save,
// writes KBTIMER1.TXT.
void SetPollingValue(AppContext& ctx, const std::string& value, bool save);
// Text KBTIMER1.TXT holds for a polling interval: milliseconds below 1000,
// else seconds with "." before any fraction.
std::string PollingFileText(int32_t intervalMs);
// The operator's "Set timer" button. Returns the text of the message box it
// showed, empty when none.
std::string ApplyPollingValue(AppContext& ctx);

}  // namespace kolibra
