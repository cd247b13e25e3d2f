#include "link/serial_link.h"

#include <cstdio>
#include <cstdlib>

#include "platform/file_system.h"

namespace kolibra {

namespace {
// The leading decimal digits of a text, as the baud box is read.
int32_t LeadingNumber(const std::string& text) {
  std::size_t i = text.find_first_not_of(' ');
  int64_t v = 0;
  for (; i != std::string::npos && i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > INT32_MAX) return INT32_MAX;
  }
  return static_cast<int32_t>(v);
}
}  // namespace

bool ConfigureCommPort(AppContext& ctx, int16_t portNumber) {
  // The port's settings text; raw mode, no handshaking and whole-queue reads
  // are what the serial port always does.
  return ctx.platform.serial.Configure(portNumber, std::to_string(ctx.baudRate) + ",N,8,1");
}

void OpenCommPort(AppContext& ctx) {
  if (!ConfigureCommPort(ctx, ctx.cycle.currentSlot)) return;
  if (!ctx.platform.serial.IsOpen()) ctx.platform.serial.Open();
}

void CloseCommPort(AppContext& ctx) {
  if (ctx.platform.serial.IsOpen()) ctx.platform.serial.Close();
}

bool PrepareLink(AppContext& ctx, int16_t portNumber) {
  if (ctx.ui.optionRete && !ctx.ui.optionRs232) return true;
  return ConfigureCommPort(ctx, portNumber);
}

void StoreBaudRate(AppContext& ctx) {
  ctx.baudRate = LeadingNumber(ctx.ui.baudText);
  const std::string path = JoinPath(ctx.settingsDir, "KBChkBd.txt");
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    const std::string line = ctx.ui.baudText + "\r\n";
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  } else {
    ctx.platform.notifier.Log("Impossibile scrivere " + path);
  }
}

void SlotCheckClicked(AppContext& ctx, int slot) {
  if (slot < 1 || slot > kSlotCount) return;
  const bool ticked = ctx.ui.slotCheck[slot - 1].value == 1;
  EventLoop& loop = ctx.platform.loop;
  if (ctx.cycle.timer21 >= 0) {
    int64_t interval = loop.TimerInterval(ctx.cycle.timer21);
    if (interval <= 0) interval = ctx.cycle.pollingIntervalMs;
    loop.SetTimer(ctx.cycle.timer21, interval, ticked);
  }
  ctx.ui.frame3Enabled = !ticked;
  ctx.ui.frame4Enabled = !ticked;
  ctx.ui.testButtonEnabled = ticked;
}

}  // namespace kolibra
