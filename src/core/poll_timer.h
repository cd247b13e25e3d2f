// The polling timer of the job cycle: the one place that creates, arms and
// stops it. Setting it restarts its period from now.
#pragma once

#include <cstdint>
#include <functional>

#include "core/app_context.h"

namespace kolibra {

// Creates the polling timer (disabled) with its tick handler; once only.
void CreatePollTimer(AppContext& ctx, std::function<void()> onTick);
// Enables or disables it at the given interval.
void ArmPollTimer(AppContext& ctx, int64_t intervalMs, bool enabled);
// Enables or disables it keeping its current interval.
void EnablePollTimer(AppContext& ctx, bool enabled);
bool PollTimerEnabled(AppContext& ctx);
// Its current interval (0 before it is created).
int64_t PollTimerInterval(AppContext& ctx);

}  // namespace kolibra
