// The polling cycle: the polling tick, detection of the slot to serve, the
// job trigger, and the polling interval.
#pragma once

#include <cstdint>
#include <string>

#include "core/app_context.h"

namespace kolibra {

// Creates the polling timer with OnPollTick as its handler (disabled).
void InstallPollTimer(AppContext& ctx);

// The polling tick. It also runs early, when a start file appears in the
// watched data folder while the cycle is idle: such a pass counts as a tick
// and the polling interval starts again from it.
void OnPollTick(AppContext& ctx);
// The job trigger, run synchronously by every tick that polls.
void ServeNextJob(AppContext& ctx);
// Detection: the slot 1..4 whose job is to run now, or 0.
int16_t FindSlotToServe(AppContext& ctx);

// Turns the operator's polling value into the polling interval; with save,
// writes KBTIMER1.TXT.
void SetPollingValue(AppContext& ctx, const std::string& value, bool save);
// Text KBTIMER1.TXT holds for a polling interval: milliseconds below 1000,
// else seconds with "." before any fraction.
std::string PollingFileText(int32_t intervalMs);
// What the operator's "Set timer" button did.
struct PollingChange {
  enum Outcome {
    kApplied,         // the value is in force and saved
    kDefaultApplied,  // not allowed (0): the one-second default in force and saved
    kRefused,         // a job runs: nothing changed
  };
  Outcome outcome = kApplied;
  std::string message;  // the message box shown, empty when none
};
// The operator's "Set timer" button, with the value in the polling box.
// Refused only while a job runs; a dump does not hold it back (the tick after
// the dump takes the interval in force).
PollingChange ApplyPollingValue(AppContext& ctx);

}  // namespace kolibra
