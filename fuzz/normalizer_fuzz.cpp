// Any bytes through the record line normalizer and the line converter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "conversion/line_converter.h"
#include "conversion/normalizer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the width, the rest is the record.
  const auto width = static_cast<int16_t>(data[0] | (data[1] << 8));
  const std::string_view line(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::string out = kolibra::NormalizeRecordLine(line, width);
  if (line.empty() != out.empty()) std::abort();
  if (!out.empty() && out.find(';') == std::string::npos) std::abort();
  const std::string answer = kolibra::CallLineConverter(out);
  if (answer.size() > static_cast<size_t>(kolibra::kLineConverterOutputSize)) std::abort();
  return 0;
}
