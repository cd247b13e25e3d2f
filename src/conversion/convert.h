// Conversion of a command file (SR_DATI) into the ECR command stream.
#pragma once

#include <cstdint>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/conversion_state.h"
#include "platform/file_system.h"
#include "platform/notifier.h"

namespace kolibra {

struct ConversionEnv {
  ConversionSettings settings;
  // Folder of XON.txt; when empty, or without fs, no XON.txt is deleted or
  // written.
  std::string dataDir;
  // Deletes XON.txt and writes it whole (never through a link).
  FileSystem* fs = nullptr;
  // Message boxes ("Il file ... non esiste", "Errore Conv = ...").
  Notifier* notifier = nullptr;
  // Receives each trace line without its time stamp; empty when trace is off.
  std::function<void(const std::string&)> trace;
  // Out: payment lines produced (the tender-line count).
  int16_t tenderLineCount = 0;
  // Out: which record refused the conversion, for the log ("" when none).
  std::string refusal;
  // Out: the line being converted (from 1; 0 before and after the lines),
  // for the report of a failure that escapes the conversion.
  std::size_t step = 0;
};

// 0 when the stream was produced (or the file holds no line), 1 when refused.
int16_t ConvertCommandFile(const std::string& commandFilePath,
                           std::vector<std::string>& jobLines, ConversionEnv& env);

// Largest command file the conversion reads; a larger one is refused.
inline constexpr std::size_t kMaxCommandFileSize = 16u * 1024u * 1024u;
// Most lines a command file may hold; a file with more is refused.
inline constexpr std::size_t kMaxCommandFileLines = 1000000;

// The conversion of a command file's contents, already read: lines end with
// CR LF, LF or a lone CR; a last line without an end counts. Contents that
// are UTF-8 holding non-ASCII characters are converted as their Windows-1252
// text (Utf8ToCp1252); any other contents as they are. Same result and
// effects as ConvertCommandFile after reading the file (trace, XON.txt);
// sourcePath names the file in messages.
int16_t ConvertCommandText(std::string_view text, std::vector<std::string>& jobLines,
                           ConversionEnv& env, const std::string& sourcePath = std::string());

}  // namespace kolibra
