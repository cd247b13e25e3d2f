// The texts the conversion shows the operator in a message box. They belong
// to the message catalogue (core/messages.h includes this header) and live
// here because the conversion sits below it.
#pragma once

#include <cstddef>
#include <string>

namespace kolibra {

// A command file that cannot be taken: "Il file <path>" + one of the
// suffixes (the size limit + " MB" after kFileTooLargeSuffix, the line limit
// + ")" after kFileTooManyLinesSuffix).
inline constexpr const char* kFilePrefix = "Il file ";
inline constexpr const char* kFileMissingSuffix = " non esiste";
inline constexpr const char* kFileTooLargeSuffix = " supera i ";
inline constexpr const char* kFileUnreadableSuffix = " non si puo' leggere";
inline constexpr const char* kFileTooManyLinesSuffix = " contiene troppe righe (oltre ";
// The copy of the converted lines (XON.txt) could not be written.
inline constexpr const char* kStreamNotWritten = "Impossibile scrivere il file ";
// The conversion stopped: "Errore Conv = <what> - <number> Line : <line>".
inline constexpr const char* kConversionError = "Errore Conv = ";

inline std::string FileMissingText(const std::string& path) { return kFilePrefix + path + kFileMissingSuffix; }
inline std::string FileTooLargeText(const std::string& path, std::size_t megabytes) {
  return kFilePrefix + path + kFileTooLargeSuffix + std::to_string(megabytes) + " MB";
}
inline std::string FileUnreadableText(const std::string& path) {
  return kFilePrefix + path + kFileUnreadableSuffix;
}
inline std::string ConversionErrorText(const std::string& what, int number, std::size_t line) {
  return kConversionError + what + " - " + std::to_string(number) + " Line : " + std::to_string(line);
}

}  // namespace kolibra
