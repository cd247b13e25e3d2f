#include "ui/operator_events.h"

namespace kolibra {

void ShowStatus(AppContext& ctx, const std::string& text) {
  ctx.ui.status = text;
  ctx.platform.notifier.Log("Stato: " + text);
}

void SetTrayState(AppContext& ctx, TrayIcon icon, const std::string& tip) {
  ctx.ui.trayIcon = icon == TrayIcon::kRunning ? 1 : 0;
  if (ctx.ui.trayTip != tip) ctx.platform.notifier.Log("Tray: " + tip);
  ctx.ui.trayTip = tip;
  ctx.platform.notifier.SetTrayState(icon, tip);
}

void ShowMessage(AppContext& ctx, const std::string& text) {
  ctx.platform.notifier.MessageBox(text);
}

}  // namespace kolibra
