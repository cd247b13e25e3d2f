#include "platform/window_notifier.h"

namespace kolibra {

void WindowNotifier::MessageBox(const std::string& text) {
  log_.Log("Messaggio: " + text);
  host_.ShowMessage(text);
}

}  // namespace kolibra
