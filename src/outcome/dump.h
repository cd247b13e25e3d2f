#pragma once

#include <cstdint>
#include <string>

#include "app/app_context.h"

namespace kolibra {

// Reads the ECR configuration on slot 1..4 and, on success, writes SR_MATR.
void StartDump(AppContext& ctx, int16_t slot);
void Norvikocx21_DoDumpConf(AppContext& ctx);
void Norvikocx21_EvDumpConfDone(AppContext& ctx, std::string& cRxdMesg, int16_t& sResult);
void WriteSerialFile(AppContext& ctx, const std::string& serial);

}  // namespace kolibra
