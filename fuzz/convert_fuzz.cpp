// Any bytes as a whole command file through the conversion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/convert.h"

namespace {

class CountingNotifier : public kolibra::Notifier {
 public:
  void MessageBox(const std::string&) override { ++messages; }
  void Log(const std::string&) override {}
  int messages = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte chooses the settings, the rest is the command file.
  static const char* const kFamilies[] = {"", "ZT", "ST", "AT", "OT", "ET", "FT", "XX"};
  kolibra::ConversionEnv env;
  env.settings.paymentsIndex = data[0] % 3;
  env.settings.pag4Bancomat = (data[0] & 0x08) != 0;
  env.settings.rt = (data[0] & 0x10) != 0;
  env.settings.rtSerial = env.settings.rt ? "99MZT012345" : "";
  env.settings.tenderFamily = kFamilies[data[0] >> 5];
  CountingNotifier notifier;
  env.notifier = &notifier;
  size_t traced = 0;
  env.trace = [&traced](const std::string& line) { traced += line.size(); };

  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::string> lines;
  const int16_t result = kolibra::ConvertCommandText(text, lines, env);
  if (result != 0 && result != 1) std::abort();
  if (env.tenderLineCount < 0) std::abort();
  // No command line may carry a byte the link takes as a control character.
  for (const std::string& line : lines) {
    for (const char c : line) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7f) std::abort();
    }
  }
  return 0;
}
