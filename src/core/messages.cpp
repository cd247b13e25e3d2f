#include "core/messages.h"

namespace kolibra {

std::string DumpErrorText(int16_t result) {
  return result == 0 ? std::string() : std::string(kErrDumpGeneric);
}

std::string DumpFailedText(int16_t result) {
  return std::string(kDumpNotDone) + " : " + std::to_string(result);
}

std::string ProcedureErrorText(int number, const std::string& description, const std::string& procedure) {
  return kProcedureErrorPrefix + std::to_string(number) + " (" + description + kProcedureErrorIn + procedure +
         kProcedureErrorModule;
}

std::string SocketErrorText(int number, const std::string& description, int status) {
  return kSocketErrorPrefix + std::to_string(number) + " - " + description + " - " + std::to_string(status);
}

std::string UnsafeFolderText(const std::string& folder) {
  return kControlFolderPrefix + folder + kControlFolderUnsafe;
}

}  // namespace kolibra
