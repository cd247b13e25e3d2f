// The polling cycle: the polling tick, detection of the slot to serve, the
// job trigger, and the polling interval. The one owner of the cycle state
// (ctx.cycle) and of the polling timer: start-up, shutdown, the end of a job
// or a dump and the operator's actions (through ctx.cycleEvents) tell it what
// happened, and it decides.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/app_context.h"
#include "core/job_result.h"

namespace kolibra {

// Creates the polling timer (disabled), once, with OnPollTick as its handler
// unless another is given (a window's test drives the rest of the cycle
// without the polling), and lets the operator's actions reach the cycle
// (ctx.cycleEvents).
void InstallPollTimer(AppContext& ctx, std::function<void()> onTick = nullptr);

// Start-up: the cycle's first values; a slot's port as probed; the polling
// interval read or chosen (the polling keeps running or stopped as it was);
// the polling started at that interval.
void ResetJobCycle(AppContext& ctx);
void SetPortAvailable(AppContext& ctx, int16_t slot, bool available);
void SetPollingInterval(AppContext& ctx, int32_t intervalMs);
void StartPolling(AppContext& ctx);
// Shutdown: no job starts any more and the polling stops (requested: a
// termination request waits to be served); then the cycle has ended.
void CloseJobCycle(AppContext& ctx, bool requested);
void EndJobCycle(AppContext& ctx);

// The running job ended with code (its outcome already reported): it counts
// as the last job, the pause tick follows, the test button and the tray are
// idle again.
void JobEnded(AppContext& ctx, JobResult code);

// The polling tick. It also runs early, when a start file appears in the
// watched data folder while the cycle is idle: such a pass counts as a tick
// and the polling interval starts again from it.
void OnPollTick(AppContext& ctx);
// The job trigger, run synchronously by every tick that polls.
void ServeNextJob(AppContext& ctx);
// Detection: the slot 1..4 whose job is to run now, or 0.
int16_t FindSlotToServe(AppContext& ctx);

}  // namespace kolibra
