#pragma once

#include <cstdint>

#include "core/app_context.h"

namespace kolibra {

bool ConfigureSerialPort(AppContext& ctx, int16_t portNumber);
void OpenSerialPort(AppContext& ctx);
void CloseSerialPort(AppContext& ctx);
bool PrepareLink(AppContext& ctx, int16_t portNumber);

}  // namespace kolibra
