// The headless notifier: message boxes and log lines go to a descriptor
// (stderr by default) as single time-stamped lines; nothing ever waits for
// an operator. Tray calls do nothing.
#pragma once

#include <string>

#include "platform/notifier.h"

namespace kolibra {

class PosixNotifier : public Notifier {
 public:
  explicit PosixNotifier(int fd = 2) : fd_(fd) {}

  // Writes "kolibra: hh:mm:ss MESSAGGIO: <text>".
  void MessageBox(const std::string& text) override;
  // Writes "kolibra: hh:mm:ss <line>". Line breaks inside the text become
  // blanks so that every call is exactly one line.
  void Log(const std::string& line) override;

 private:
  int fd_;
};

}  // namespace kolibra
