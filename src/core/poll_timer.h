// The polling timer of the job cycle: the one place that creates, arms and
// stops it. Setting it restarts its period from now.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

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

// Turns the operator's polling value into the polling interval; with save,
// writes KBTIMER1.TXT.
void SetPollingValue(AppContext& ctx, const std::string& value, bool save);
// Text KBTIMER1.TXT holds for a polling interval: milliseconds below 1000,
// else seconds with "." before any fraction.
std::string PollingFileText(int32_t intervalMs);
// The number a polling value starts with (0 when none).
double PollingNumber(const std::string& value);

}  // namespace kolibra
