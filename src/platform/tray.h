// The tray icon of a driver with a window; a headless driver has none. Its
// mouse messages reach the window host's events.
#pragma once

#include <string>

namespace kolibra {

enum class TrayIcon { kIdle, kRunning };

class Tray {
 public:
  virtual ~Tray() = default;
  // False when the system refused the icon.
  virtual bool AddTrayIcon(TrayIcon icon, const std::string& tip) = 0;
  virtual void SetTrayIcon(TrayIcon icon, const std::string& tip) = 0;
  virtual void RemoveTrayIcon() = 0;
};

}  // namespace kolibra
