#pragma once

#include <cstdint>
#include <string>

#include "app/app_context.h"

namespace kolibra {

// Shows the outcome of a job, writes its error file or clears its files, and
// re-arms the polling timer with one 1000 ms pause tick.
void ReportJobOutcome(AppContext& ctx, int16_t code);

// Status text and error-file text of a job result code (empty when none).
std::string OutcomeStatusText(int16_t code);
std::string OutcomeErrorText(int16_t code);

}  // namespace kolibra
