#include "platform/window_host.h"

namespace kolibra {

// The POSIX driver has no window: the log stands for it.
std::unique_ptr<WindowHost> MakeWindowHost(EventLoop&) { return nullptr; }

void ShowStartRefusal(const std::string&) {}

}  // namespace kolibra
