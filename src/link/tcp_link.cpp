#include "link/tcp_link.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "conversion/numbers.h"
#include "core/messages.h"
#include "core/operator_events.h"
#include "link/link_wait.h"
#include "link/trace.h"
#include "link/transmission.h"

namespace kolibra {

namespace {
bool SocketClosed(const AppContext& ctx) { return ctx.platform.socket.State() == kSocketClosed; }

// Numeric as an address part is read: blanks around an optionally signed
// whole number with an optional exponent.
bool ParsePart(const std::string& text, double& value) {
  constexpr NumberForm kAddressPart{" ", true, false, "Ee"};
  const std::optional<double> v = ParseNumber(text, kAddressPart);
  if (v) value = *v;
  return v.has_value();
}

// The reconnect after a refusal, run from the event loop after the error
// handler has returned; a refusal during it queues exactly one more.
void RunQueuedReconnect(AppContext& ctx) {
  ctx.link.reconnectQueued = false;
  ctx.link.reconnectActive = true;
  ResetConnClicked(ctx);
  ctx.link.reconnectActive = false;
  if (ctx.link.reconnectQueued) ctx.platform.loop.Post([&ctx] { RunQueuedReconnect(ctx); });
}
}  // namespace

void ArmReceive(AppContext& ctx) {
  ReceiveSlot& rx = ctx.link.rx;
  rx.socketError = false;
  rx.connectionError = false;
  rx.text.clear();
  rx.dataArrived = false;
  rx.armed = true;
}

void OnSocketData(AppContext& ctx, std::size_t /*bytes*/) {
  // Always drain the socket; only the first chunk after a re-arm is kept.
  const std::string text = ctx.platform.socket.GetData();
  ReceiveSlot& rx = ctx.link.rx;
  if (text.empty() || !rx.armed) return;
  rx.text += text;
  rx.dataArrived = true;
  rx.armed = false;
}

void OnSocketConnected(AppContext& ctx) {
  ctx.state.connection = ConnectionState::kOpen;
  TraceLine(ctx, " -> Connection OK");
}

void OnSocketError(AppContext& ctx, int number, const Status& failure, int status) {
  ctx.link.connectFailure = failure;
  CloseConnection(ctx);
  const bool connectionError =
      number == kSocketErrAborted || number == kSocketErrTimedOut || number == kSocketErrRefused;
  const std::string text = SocketErrorText(number, failure.Cause(), status);
  ctx.link.rx.socketError = !connectionError;
  ctx.link.rx.connectionError = connectionError;
  if (!connectionError) ShowStatus(ctx, text);
  TraceLine(ctx, " -> " + text);
  if (number == kSocketErrRefused && ctx.link.connectPolling) {
    // Reconnect is polling: it starts the next connect itself.
    ctx.link.refusedWhilePolling = true;
  } else if (number == kSocketErrRefused && !ctx.link.reconnectQueued) {
    // Reconnect after this handler has returned: a refusal inside the
    // reconnect's own waits then cannot nest another reconnect.
    ctx.link.reconnectQueued = true;
    if (!ctx.link.reconnectActive) ctx.platform.loop.Post([&ctx] { RunQueuedReconnect(ctx); });
  }
}

bool CloseConnection(AppContext& ctx) {
  TcpSocket& socket = ctx.platform.socket;
  if (!SocketClosed(ctx)) {
    socket.Close();
    Pause(ctx, 200);
  }
  int count = 0;
  while (!SocketClosed(ctx)) {
    Pause(ctx, 200);
    if (++count >= 31) {
      ShowStatus(ctx, kConnectionNotClosed);
      return false;
    }
  }
  ctx.state.connection = ConnectionState::kClosed;
  return true;
}

void OpenConnection(AppContext& ctx, bool showClosing) {
  TcpSocket& socket = ctx.platform.socket;
  if (!SocketClosed(ctx)) {
    socket.Close();
    Pause(ctx, 200);
    if (showClosing) {
      ctx.state.resetClosing = true;
      Pause(ctx, 2000);
    }
  }
  int attempts = 0;
  while (!SocketClosed(ctx)) {
    Pause(ctx, 1000);
    ++attempts;
    TraceLine(ctx, " -> Retry n." + std::to_string(attempts) + " -> " + kConnectionNotClosed);
    if (attempts >= 21) {
      ShowStatus(ctx, kConnectionNotClosed);
      return;
    }
  }
  socket.SetRemoteHost(ctx.settings.address);
  if (SocketClosed(ctx)) {
    if (!ctx.settings.address.empty()) {
      socket.SetRemotePort(ctx.link.remotePort);
      socket.Connect();
    }
  } else {
    TraceLine(ctx, " -> SOCKET CONNECTION FAILURE");
  }
}

bool Reconnect(AppContext& ctx, int16_t maxSeconds) {
  LinkState& link = ctx.link;
  // While it polls, Reconnect answers a refusal with a new connect of its
  // own, from its loop and not from the error handler: a reconnect queued
  // earlier (even one whose run encloses this job) then cannot hold the
  // connection down for the whole job.
  const bool outerPolling = link.connectPolling;
  link.connectPolling = true;
  link.connectFailure = Status::Ok();
  OpenConnection(ctx, false);
  link.refusedWhilePolling = false;  // what came before this connect is answered by it
  EventLoop& loop = ctx.platform.loop;
  const int64_t limit = loop.NowMs() + (int64_t{maxSeconds} + 1) * 1000;
  int seconds = 0;
  bool connected = true;
  while (connected && !SocketConnected(ctx)) {
    // One-second polls in slices, so that a refusal is answered within a
    // slice and the wait cannot stretch far beyond its limit.
    for (int slice = 0; slice < 10; ++slice) {
      Pause(ctx, 100);
      if (link.refusedWhilePolling && !SocketConnected(ctx)) {
        link.refusedWhilePolling = false;
        OpenConnection(ctx, false);
      }
      if (loop.NowMs() >= limit) break;
    }
    if (++seconds > maxSeconds || loop.NowMs() >= limit) connected = false;
  }
  link.connectPolling = outerPolling;
  if (!connected) {
    // Said with the last socket error's reason; a connect that neither came
    // nor failed has none.
    ctx.platform.notifier.Log(link.connectFailure.Explain(kConnectionNotMade + ctx.settings.address));
    // A refusal left unanswered by the last poll is handed to the queued
    // reconnect, as the error handler does outside the polls.
    if (link.refusedWhilePolling && !outerPolling && !link.reconnectQueued) {
      link.reconnectQueued = true;
      if (!link.reconnectActive) loop.Post([&ctx] { RunQueuedReconnect(ctx); });
    }
    link.refusedWhilePolling = false;
    return false;
  }
  link.refusedWhilePolling = false;
  link.rx.socketError = false;
  link.rx.connectionError = false;
  link.rx.pending.clear();
  return true;
}

bool IsValidIpAddress(const std::string& address) {
  if (address.empty()) return false;
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = address.find('.', start);
    parts.push_back(address.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (parts.size() < 4) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    double v = 0;
    if (!ParsePart(parts[i], v) || v > 255) return false;
  }
  return true;
}

void ResetConnClicked(AppContext& ctx) {
  const bool closing = ctx.state.resetClosing;
  try {
    OpenConnection(ctx, true);
    Pause(ctx, 2000);
  } catch (const std::exception&) {
    ShowMessage(ctx, kWinsockError);
  }
  ctx.state.resetClosing = closing;
}

}  // namespace kolibra
