#include <exception>

#include "app/startup.h"
#include "conversion/line_converter.h"
#include "core/messages.h"
#include "core/operator_events.h"

namespace kolibra {

bool ConverterSelfTest(AppContext& ctx) {
  std::string line;
  try {
    line = CallLineConverter("SALE,N1,P1000;");
  } catch (const std::exception&) {
    ShowMessage(ctx, kConverterMissing);
    return false;
  }
  if (line.compare(0, 7, "1000H1R") == 0) return true;
  ctx.platform.notifier.Log("Autotest del convertitore di righe fallito: \"" + line + "\"");
  return false;
}

}  // namespace kolibra
