#pragma once

#include <cstdint>

#include "app/app_context.h"

namespace kolibra {

// Job result codes.
constexpr int16_t kJobOk = 0;
constexpr int16_t kJobNoAnswer = -4;
constexpr int16_t kJobConversionRefused = -11;
constexpr int16_t kJobLinkSetupFailed = -12;
constexpr int16_t kJobCommandFileMissing = -100;

// Runs the job of the current port slot (command file, link, sending) and
// returns its result code.
int16_t RunJob(AppContext& ctx);

}  // namespace kolibra
