// The program's log line as the headless notifiers write it.
#pragma once

#include <string>

namespace kolibra {

// What a message box becomes in the log: this prefix and its text.
constexpr char kMessageBoxLogPrefix[] = "MESSAGGIO: ";

// "kolibra: hh:mm:ss <text>" and a line feed. Line breaks inside the text
// (CR LF, CR or LF) become one blank each, so that every call is one line.
std::string FormatLogLine(int hour, int minute, int second, const std::string& text);

}  // namespace kolibra
