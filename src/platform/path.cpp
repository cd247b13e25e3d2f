#include "platform/file_system.h"

namespace kolibra {

std::string JoinPath(const std::string& dir, const std::string& name) {
#ifdef _WIN32
  constexpr char kSep = '\\';
#else
  constexpr char kSep = '/';
#endif
  if (dir.empty()) return name;
  if (dir.back() == kSep) return dir + name;
  return dir + kSep + name;
}

}  // namespace kolibra
