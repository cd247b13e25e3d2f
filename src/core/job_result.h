// Result of one job run, as the outcome step reports it. The values are the
// result codes the job's status and error texts are keyed on.
#pragma once

#include <cstdint>

namespace kolibra {

enum class JobResult : int16_t {
  kOk = 0,
  kNoAnswer = -4,
  kConversionRefused = -11,
  kLinkSetupFailed = -12,
  // The job failed after a payment line may have reached the ECR: the receipt
  // may or may not have been printed.
  kOutcomeUncertain = -20,
  kCommandFileMissing = -100,
  // The command file is there but the driver may not read it (its
  // permissions): nothing was sent.
  kCommandFileUnreadable = -13,
};

}  // namespace kolibra
