#pragma once

#include <cstdint>

#include "app/app_context.h"

namespace kolibra {

bool ConfigureCommPort(AppContext& ctx, int16_t portNumber);
void OpenCommPort(AppContext& ctx);
void CloseCommPort(AppContext& ctx);
bool PrepareLink(AppContext& ctx, int16_t portNumber);
// "Set velocità": takes the baud rate from cmbBaude and stores KBChkBd.txt.
void StoreBaudRate(AppContext& ctx);
// A click on the enable box of slot 1..4 (after its value changed).
void SlotCheckClicked(AppContext& ctx, int slot);

}  // namespace kolibra
