// The program's one version, shown by --version and written into SR_MATR.
#pragma once

#include <string>

namespace kolibra {

inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 14;

// "1.0.0.14".
inline std::string VersionText() {
  return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + ".0." +
         std::to_string(kVersionRevision);
}

}  // namespace kolibra
