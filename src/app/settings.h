// The four settings files in the settings folder: read at start-up, written
// at shutdown (KBTIMER1.TXT also when the polling value is set).
#pragma once

#include "core/app_context.h"

namespace kolibra {

// KBCHKCOM.TXT: the enable boxes of slots 1..4.
void ReadSlotSettings(AppContext& ctx);
// KBTIMER1.TXT: the polling value, then rewritten with the box's text.
void ReadTimerSettings(AppContext& ctx);
// KBChkBd.txt: the baud rate.
void ReadBaudSettings(AppContext& ctx);
// KBCHKSCO.TXT: pass-through, RT footer, payments, link, address, trace,
// debit card.
void ReadProgramSettings(AppContext& ctx);

// Writes KBCHKCOM.TXT, KBChkBd.txt and KBCHKSCO.TXT.
void SaveSettings(AppContext& ctx);

}  // namespace kolibra
