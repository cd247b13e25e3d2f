#include "core/messages.h"

namespace kolibra {

std::string DumpErrorText(int16_t result) {
  return result == 0 ? std::string() : std::string(kErrDumpGeneric);
}

std::string DumpFailedText(int16_t result) {
  return std::string(kDumpNotDone) + " : " + std::to_string(result);
}

}  // namespace kolibra
