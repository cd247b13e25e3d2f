// The program's one version, shown by --version, written into SR_MATR and
// stamped into the Windows program's version resource (the resource
// compiler reads only the #defines below; RC_INVOKED is set while it runs).
#pragma once

#define KOLIBRA_VERSION_MAJOR 1
#define KOLIBRA_VERSION_MINOR 0
#define KOLIBRA_VERSION_REVISION 14

#ifndef RC_INVOKED

#include <string>

namespace kolibra {

inline constexpr int kVersionMajor = KOLIBRA_VERSION_MAJOR;
inline constexpr int kVersionMinor = KOLIBRA_VERSION_MINOR;
inline constexpr int kVersionRevision = KOLIBRA_VERSION_REVISION;

// "1.0.0.14".
inline std::string VersionText() {
  return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + ".0." +
         std::to_string(kVersionRevision);
}

}  // namespace kolibra

#endif  // RC_INVOKED
