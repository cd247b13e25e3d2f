#pragma once

#include <cstdint>
#include <string>

#include "core/app_context.h"
#include "core/job_result.h"

namespace kolibra {

// Records the outcome of the running job (ctx.cycle.jobBusy; else nothing)
// in the status box, writes its error file or clears its files. The job
// cycle then records the job's end and takes the pause after it.
void ReportJobOutcome(AppContext& ctx, JobResult code);

// Writes the result files of the job kept in ctx.outcome.pending and
// removes the files that ran, only those: a start or command file written
// since stays. A job whose start file went, or was replaced together with its
// command file (withdrawn by the calling application), gets no result file,
// only a log line; a start file written again beside the job's own untouched
// command file gets the job's result. While the data folder is gone, or a
// result file (SR_OUT, SR_ERR, FINESCO) cannot be written, the outcome stays
// kept with its start file, to be tried again from the polling timer. True
// when no outcome is kept any more.
bool DeliverPendingOutcome(AppContext& ctx);

// Status text and error-file text of a job result code (empty when none).
std::string OutcomeStatusText(JobResult code);
std::string OutcomeErrorText(JobResult code);

}  // namespace kolibra
