#pragma once

#include <cstdint>

#include "core/app_context.h"
#include "platform/status.h"

namespace kolibra {

// Sets the serial port to COMn and the baud rate's line settings.
Status ConfigureSerialPort(AppContext& ctx, int16_t portNumber);
// Opens the configured port COMn unless it is open. A port that does not
// open is logged with the system's reason and passed over: the first write
// then fails as to a port that is not open.
void OpenConfiguredPort(AppContext& ctx, int16_t portNumber);
// Configures the current slot's port and opens it.
void OpenSerialPort(AppContext& ctx);
void CloseSerialPort(AppContext& ctx);
// In serial mode the port's configuration; in network mode always ok.
Status PrepareLink(AppContext& ctx, int16_t portNumber);

}  // namespace kolibra
