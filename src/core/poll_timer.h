// The polling timer of the job cycle, as app/job_cycle (the one place that
// creates, arms and stops it) left it.
#pragma once

#include <cstdint>

#include "core/app_context.h"

namespace kolibra {

bool PollTimerEnabled(AppContext& ctx);
// Its current interval (0 before it is created).
int64_t PollTimerInterval(AppContext& ctx);

}  // namespace kolibra
