// What the operator sees outside the window: message boxes and, headless,
// a log line for each of them. Never blocks a headless driver.
#pragma once

#include <string>

// windows.h defines MessageBox as a macro (MessageBoxA); the method below
// keeps its name whichever of the two a file includes first.
#ifdef MessageBox
#undef MessageBox
#endif

namespace kolibra {

class Notifier {
 public:
  virtual ~Notifier() = default;
  // A message box with an OK button (headless: one log line, no wait).
  virtual void MessageBox(const std::string& text) = 0;
  // One line of the program's log (headless: stderr).
  virtual void Log(const std::string& line) = 0;
};

}  // namespace kolibra
