#include "link/serial_link.h"

namespace kolibra {

bool ConfigureSerialPort(AppContext& ctx, int16_t portNumber) {
  // A new session on the line: an XOFF of the last one no longer holds it.
  ctx.link.held = false;
  // The port's settings text; raw mode, no handshaking and whole-queue reads
  // are what the serial port always does.
  return ctx.platform.serial.Configure(portNumber, std::to_string(ctx.settings.baudRate) + ",N,8,1");
}

void OpenSerialPort(AppContext& ctx) {
  if (!ConfigureSerialPort(ctx, ctx.job.currentSlot)) return;
  if (!ctx.platform.serial.IsOpen()) ctx.platform.serial.Open();
}

void CloseSerialPort(AppContext& ctx) {
  if (ctx.platform.serial.IsOpen()) ctx.platform.serial.Close();
}

bool PrepareLink(AppContext& ctx, int16_t portNumber) {
  if (ctx.settings.linkMode == LinkMode::kNetwork) return true;
  return ConfigureSerialPort(ctx, portNumber);
}

}  // namespace kolibra
