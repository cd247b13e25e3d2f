// No control endpoint on Windows: the operator uses the window.
#include "platform/control_channel.h"

namespace kolibra {

ControlCallResult SendControlRequest(const std::string& /*path*/, std::string_view /*line*/,
                                     int64_t /*timeoutMs*/) {
  ControlCallResult result;
  result.status = ControlCallStatus::kNotAvailable;
  return result;
}

}  // namespace kolibra
