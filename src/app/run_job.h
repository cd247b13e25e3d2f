#pragma once

#include <cstdint>

#include "core/app_context.h"
#include "core/job_result.h"

namespace kolibra {

// Runs the job of the current port slot (command file, link, sending) and
// returns its result.
JobResult RunJob(AppContext& ctx);

}  // namespace kolibra
