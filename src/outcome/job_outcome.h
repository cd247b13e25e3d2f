#pragma once

#include <cstdint>
#include <string>

#include "core/app_context.h"
#include "core/job_result.h"

namespace kolibra {

// Shows the outcome of a job, writes its error file or clears its files, and
// re-arms the polling timer with one 1000 ms pause tick.
void ReportJobOutcome(AppContext& ctx, JobResult code);

// Status text and error-file text of a job result code (empty when none).
std::string OutcomeStatusText(JobResult code);
std::string OutcomeErrorText(JobResult code);

}  // namespace kolibra
