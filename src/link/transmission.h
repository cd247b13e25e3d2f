// Moving commands to the ECR: echo checks, time-outs, retries, XOFF pauses.
#pragma once

#include <string>
#include <vector>

#include "core/app_context.h"

namespace kolibra {

// Creates the time-out clock (OnTimeoutTick) and installs the socket event handlers.
void InitLink(AppContext& ctx);
// Tick of the time-out clock.
void OnTimeoutTick(AppContext& ctx);

bool SendCommand(AppContext& ctx, const std::string& command);
bool SendJobLineSerial(AppContext& ctx, const std::string& command);
bool SendJobLineTcp(AppContext& ctx, const std::string& command);
// Sends the job lines; after the last payment line reads the closing reply
// into the output file ctx.link.outputPath.
bool SendJobLines(AppContext& ctx, const std::vector<std::string>& lines);
// Waits ms/100 slices of 100 ms, delivering events after each.
void Pause(AppContext& ctx, double ms);

}  // namespace kolibra
