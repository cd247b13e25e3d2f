// The headless notifier: message boxes and log lines go to the standard
// error handle as single time-stamped lines; nothing ever waits for an
// operator. Tray calls do nothing (the operator window brings its own).
#pragma once

#include <string>

#include "platform/notifier.h"

// As in notifier.h: a windows.h included in between must not rename the
// override.
#ifdef MessageBox
#undef MessageBox
#endif

namespace kolibra {

class Win32Notifier : public Notifier {
 public:
  Win32Notifier() = default;

  // Writes "kolibra: hh:mm:ss MESSAGGIO: <text>".
  void MessageBox(const std::string& text) override;
  // Writes "kolibra: hh:mm:ss <line>". Line breaks inside the text become
  // blanks so that every call is exactly one line.
  void Log(const std::string& line) override;
};

}  // namespace kolibra
