// Helpers shared by the link operations: the one shape of every wait and of
// every TCP receive, and the link mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/app_context.h"

namespace kolibra {

inline bool NetworkMode(const AppContext& ctx) { return ctx.settings.linkMode == LinkMode::kNetwork; }
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
  // As WaitOnce, returning at `atMs` at the latest when that comes first.
  void WaitOnceUntil(int64_t atMs);

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

// Serial flow control: the ECR sends XOFF to hold the line and, if it is
// one that does, XON to release it; both are line control, not part of its
// answers.
constexpr char kXon = '\x11';
constexpr char kXoff = '\x13';
// `received` without its XON and XOFF bytes.
std::string WithoutFlowControl(std::string_view received);
// Appends what the serial port holds to `into` and follows the ECR's XOFF
// and XON in ctx.link.held; an XON that releases an XOFF marks the current
// slot's ECR as one that sends XON. True when bytes came.
bool ReceiveSerial(AppContext& ctx, std::string& into);
// Whether an XOFF holds the line until the XON: only once the ECR on the
// current slot has been seen to send XON after an XOFF.
bool HoldsUntilXon(const AppContext& ctx);
// The line is held now: XOFF came, no XON since, and the ECR is one that
// sends XON.
inline bool LineHeld(const AppContext& ctx) { return ctx.link.held && HoldsUntilXon(ctx); }

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

// How much of what arrived is the awaited answer; the rest stays in
// ctx.link.rx.pending for the next wait. TCP is a stream: an echo and the
// answer after it, or an answer and the closing reply, may come in one read.
struct Framing {
  std::size_t echoLength = 0;  // > 0: an echo, the first echoLength bytes
  bool endsAtReply = false;    // the answer ends where a closing reply (STX) begins
};

// Receives one TCP answer into ctx.link.answer: bytes pending from an earlier
// read first, without waiting; otherwise waits up to timeoutMs. Data that came
// into the slot since the last wait (during a pause) counts as arrived, so a
// wait continued after a time-out loses nothing; the slot is re-armed after
// the data is taken. With a trace suffix " <-- answer<suffix>" is traced.
SocketAnswer AwaitAnswer(AppContext& ctx, int64_t timeoutMs, std::optional<std::string_view> traceSuffix,
                         Framing framing = {});

}  // namespace kolibra
