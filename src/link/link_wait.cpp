#include "link/link_wait.h"

#include "link/tcp_link.h"
#include "link/trace.h"

namespace kolibra {

TimeoutWindow::TimeoutWindow(AppContext& ctx, int64_t timeoutMs) : ctx_(ctx) {
  ctx.link.timeoutFlag = false;
  ctx.link.timeoutCountdown = 0;
  EventLoop& loop = ctx.platform.loop;
  if (ctx.link.timeoutTimer >= 0) loop.SetTimer(ctx.link.timeoutTimer, timeoutMs, true);
  deadline_ = loop.NowMs() + timeoutMs;
}

TimeoutWindow::~TimeoutWindow() {
  EventLoop& loop = ctx_.platform.loop;
  if (ctx_.link.timeoutTimer >= 0) loop.SetTimer(ctx_.link.timeoutTimer, loop.TimerInterval(ctx_.link.timeoutTimer), false);
}

void TimeoutWindow::WaitOnce() { WaitOnceUntil(deadline_); }

void TimeoutWindow::WaitOnceUntil(int64_t atMs) {
  EventLoop& loop = ctx_.platform.loop;
  loop.Wait(atMs < deadline_ ? atMs : deadline_);
  // The clock's tick is due at the deadline; should it be late or missing,
  // the wait still ends there instead of turning into a spin.
  if (!ctx_.link.timeoutFlag && loop.NowMs() >= deadline_) ctx_.link.timeoutFlag = true;
}

std::string WithoutFlowControl(std::string_view received) {
  std::string data;
  for (const char c : received) {
    if (c != kXon && c != kXoff) data += c;
  }
  return data;
}

bool HoldsUntilXon(const AppContext& ctx) {
  const int slot = ctx.job.currentSlot;
  return slot >= 1 && slot <= kSlotCount && ctx.link.xonAfterXoffSeen[slot - 1];
}

bool ReceiveSerial(AppContext& ctx, std::string& into) {
  const std::string bytes = ctx.platform.serial.ReadAll();
  into += bytes;
  LinkState& link = ctx.link;
  const int slot = ctx.job.currentSlot;
  for (const char c : bytes) {
    if (c == kXoff) link.held = true;
    if (c != kXon) continue;
    if (link.held && slot >= 1 && slot <= kSlotCount) link.xonAfterXoffSeen[slot - 1] = true;
    link.held = false;
  }
  return !bytes.empty();
}

void WaitForSocketAnswer(AppContext& ctx, int64_t timeoutMs) {
  WaitUntil(ctx, timeoutMs, [&] { return ctx.link.rx.dataArrived || SocketErrorFlagged(ctx); });
}

SocketAnswer AwaitAnswer(AppContext& ctx, int64_t timeoutMs, std::optional<std::string_view> traceSuffix,
                         Framing framing) {
  LinkState& link = ctx.link;
  ReceiveSlot& rx = link.rx;
  link.answer.clear();
  if (!rx.pending.empty()) {
    link.answer.swap(rx.pending);
  } else {
    rx.socketError = false;
    rx.connectionError = false;
    if (!rx.dataArrived) {
      rx.text.clear();
      rx.armed = true;
    }
    WaitForSocketAnswer(ctx, timeoutMs);
    if (!rx.dataArrived) return SocketErrorFlagged(ctx) ? SocketAnswer::kSocketError : SocketAnswer::kTimeout;
    link.answer.swap(rx.text);
    ArmReceive(ctx);
  }
  std::size_t end = std::string::npos;
  if (framing.echoLength > 0) end = framing.echoLength;
  if (framing.endsAtReply) end = link.answer.find('\x02');
  if (end < link.answer.size()) {
    rx.pending = link.answer.substr(end);
    link.answer.resize(end);
  }
  if (traceSuffix) TraceLine(ctx, " <-- " + link.answer + std::string(*traceSuffix));
  return SocketAnswer::kData;
}

}  // namespace kolibra
