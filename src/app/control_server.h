// The driver's side of `kolibra ctl`: the answer to each request, and the
// control endpoint held open while the driver runs.
#pragma once

#include <string>
#include <string_view>

#include "core/app_context.h"
#include "platform/control_channel.h"

namespace kolibra {

// The control endpoint of a settings folder.
std::string ControlSocketPath(const std::string& settingsDir);

// Parses a request line, takes its action and returns the whole answer.
std::string HandleControlLine(AppContext& ctx, std::string_view line);

// Opens the control endpoint in the settings folder (the driver holds the
// folder's single-instance lock by now) and closes it when destroyed. A
// channel that cannot be opened is logged; the driver runs on without it.
class ControlEndpoint {
 public:
  ControlEndpoint(AppContext& ctx, ControlChannel* channel);
  ~ControlEndpoint();
  ControlEndpoint(const ControlEndpoint&) = delete;
  ControlEndpoint& operator=(const ControlEndpoint&) = delete;
  bool open() const { return channel_ != nullptr && channel_->IsOpen(); }

 private:
  ControlChannel* channel_;
};

}  // namespace kolibra
