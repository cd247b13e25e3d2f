#pragma once

#include <cstdint>
#include <string>

#include "core/app_context.h"

namespace kolibra {

// Reads the ECR configuration on slot 1..4 and, on success, writes SR_MATR.
void StartDump(AppContext& ctx, int16_t slot);
void RunDump(AppContext& ctx);
void FinishDump(AppContext& ctx, const std::string& reply, int16_t result);
void WriteSerialFile(AppContext& ctx, const std::string& serial);

}  // namespace kolibra
