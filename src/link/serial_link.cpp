#include "link/serial_link.h"

#include "core/messages.h"

namespace kolibra {

Status ConfigureSerialPort(AppContext& ctx, int16_t portNumber) {
  // A new session on the line: an XOFF of the last one no longer holds it.
  ctx.link.held = false;
  // The port's settings text; raw mode, no handshaking and whole-queue reads
  // are what the serial port always does.
  return ctx.platform.serial.Configure(portNumber, std::to_string(ctx.settings.baudRate) + ",N,8,1");
}

void OpenConfiguredPort(AppContext& ctx, int16_t portNumber) {
  if (ctx.platform.serial.IsOpen()) return;
  const Status opened = ctx.platform.serial.Open();
  if (!opened.ok()) ctx.platform.notifier.Log(opened.Explain(kPortPrefix + std::to_string(portNumber) + kPortNotOpened));
}

void OpenSerialPort(AppContext& ctx) {
  if (!ConfigureSerialPort(ctx, ctx.job.currentSlot).ok()) return;
  OpenConfiguredPort(ctx, ctx.job.currentSlot);
}

void CloseSerialPort(AppContext& ctx) {
  if (ctx.platform.serial.IsOpen()) ctx.platform.serial.Close();
}

Status PrepareLink(AppContext& ctx, int16_t portNumber) {
  if (ctx.settings.linkMode == LinkMode::kNetwork) return Status::Ok();
  return ConfigureSerialPort(ctx, portNumber);
}

}  // namespace kolibra
