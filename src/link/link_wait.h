// Helpers shared by the link operations: the one shape of every wait and of
// every TCP receive, and the link mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/app_context.h"

namespace kolibra {

inline bool NetworkMode(const AppContext& ctx) { return ctx.ui.networkChosen && !ctx.ui.serialChosen; }
inline bool SocketConnected(const AppContext& ctx) { return ctx.platform.socket.State() == kSocketConnected; }

// Arms the time-out clock for one wait and disarms it when the wait ends.
class TimeoutWindow {
 public:
  TimeoutWindow(AppContext& ctx, int64_t timeoutMs);
  ~TimeoutWindow();
  TimeoutWindow(const TimeoutWindow&) = delete;
  TimeoutWindow& operator=(const TimeoutWindow&) = delete;
  // Blocks in the event loop once, at most until the time-out.
  void WaitOnce();

 private:
  AppContext& ctx_;
  int64_t deadline_;
};

// Waits (delivering events) until done() holds or the time-out flag is set.
// done() is evaluated before the first block and after every pass.
template <class Done>
void WaitUntil(AppContext& ctx, int64_t timeoutMs, Done done) {
  TimeoutWindow window(ctx, timeoutMs);
  while (!done() && !ctx.link.timeoutFlag) window.WaitOnce();
}

// Waits for a TCP answer: data arrived, a socket or connection error, or the
// time-out.
void WaitForSocketAnswer(AppContext& ctx, int64_t timeoutMs);

// True when the receive slot saw an error during the last wait.
inline bool SocketErrorFlagged(const AppContext& ctx) {
  return ctx.link.rx.socketError || ctx.link.rx.connectionError;
}

// How a wait for a TCP answer ended. Data comes first, then an error: an
// error in the same pass as the time-out is kSocketError, so a caller that
// ranks the time-out first looks at ctx.link.timeoutFlag itself.
enum class SocketAnswer { kData, kSocketError, kTimeout };

// Receives one TCP answer: clears ctx.link.answer, re-arms the receive slot
// and waits up to timeoutMs. Data that came is copied into the answer; with a
// trace suffix the slot is then re-armed and " <-- answer<suffix>" traced,
// without one (std::nullopt) the slot is left as the data left it and
// nothing is traced.
SocketAnswer AwaitAnswer(AppContext& ctx, int64_t timeoutMs, std::optional<std::string_view> traceSuffix);

}  // namespace kolibra
