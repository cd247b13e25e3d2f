#pragma once

#include <cstdint>
#include <string>

#include "core/app_context.h"

namespace kolibra {

// What a dump came to, for the job cycle, which then takes the pause after it.
struct DumpEnd {
  bool ran = false;               // false: refused, nothing happened
  bool slotsSwitchedOff = false;  // success switched other ticked slots off
  bool zeroAnswer = false;        // the ECR answered the serial-number request "0"
};

// True when a dump on slot 1..4 may start: no job or other dump uses the
// link, and the driver is not closing.
bool DumpMayStart(const AppContext& ctx, int16_t slot);
// Reads the ECR configuration on slot 1..4 and, on success, writes SR_MATR.
// The polling timer must be stopped meanwhile (the dump waits in the loop).
DumpEnd StartDump(AppContext& ctx, int16_t slot);
DumpEnd RunDump(AppContext& ctx);
DumpEnd FinishDump(AppContext& ctx, const std::string& reply, int16_t result);
void WriteSerialFile(AppContext& ctx, const std::string& serial);

}  // namespace kolibra
