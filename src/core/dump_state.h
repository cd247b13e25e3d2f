// Results of the configuration dump, read by the conversion and the link.
#pragma once

#include <array>
#include <string>

#include "core/driver_settings.h"

namespace kolibra {

struct DumpState {
  std::array<bool, kSlotCount> pending{true, true, true, true};
  bool inProgress = false;   // dump-in-progress flag
  bool running = false;      // dump-running flag (read by shutdown)
  bool rt = false;           // the ECR works in RT mode
  std::string mfSerial;      // 8 characters
  std::string rtSerial;      // 11 characters
  std::string tenderFamily;  // characters 4 and 5 of the RT serial ("ZT", "FT", ...)
};

}  // namespace kolibra
