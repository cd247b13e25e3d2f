#include "platform/window_notifier.h"

namespace kolibra {

void WindowNotifier::MessageBox(const std::string& text) {
  log_.Log("Messaggio: " + text);
  host_.ShowMessage(text);
}

void WindowNotifier::AddTrayIcon(TrayIcon icon, const std::string& tip) {
  if (!host_.AddTrayIcon(icon, tip)) log_.Log("Icona nell'area di notifica non aggiunta");
}

}  // namespace kolibra
