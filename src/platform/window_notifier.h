// The notifier of a driver with a window: log lines go where they always go,
// message boxes go to the window host.
#pragma once

#include <string>

#include "platform/notifier.h"
#include "platform/window_host.h"

namespace kolibra {

class WindowNotifier : public Notifier {
 public:
  WindowNotifier(Notifier& log, WindowHost& host) : log_(log), host_(host) {}

  // Shown in a message window that does not hold up the program, and logged.
  void MessageBox(const std::string& text) override;
  void Log(const std::string& line) override { log_.Log(line); }

 private:
  Notifier& log_;
  WindowHost& host_;
};

}  // namespace kolibra
