// The polling cycle: the polling tick, detection of the slot to serve, the
// job trigger, and the polling interval.
#pragma once

#include <cstdint>
#include <string>

#include "core/app_context.h"

namespace kolibra {

// Creates the polling timer with OnPollTick as its handler (disabled).
void InstallPollTimer(AppContext& ctx);

// The polling tick. It also runs early, when a start file appears in the
// watched data folder while the cycle is idle: such a pass counts as a tick
// and the polling interval starts again from it.
void OnPollTick(AppContext& ctx);
// The job trigger, run synchronously by every tick that polls.
void ServeNextJob(AppContext& ctx);
// Detection: the slot 1..4 whose job is to run now, or 0.
int16_t FindSlotToServe(AppContext& ctx);

}  // namespace kolibra
