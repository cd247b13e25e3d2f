#include "app/control_server.h"

#include <exception>

#include "app/startup.h"
#include "core/messages.h"
#include "core/operator_events.h"
#include "ui/control_protocol.h"
#include "ui/operator_actions.h"

namespace kolibra {

namespace {

// A client that has not sent its whole request this long after connecting
// (or not taken its answer this long after it was sent) is dropped: ctl
// sends its one line at once, so an idle connection only keeps others out.
constexpr int64_t kControlIdleMs = 3000;
// Connections at once, and of one user (one process on Windows): a user
// holding its share still leaves room for the others.
constexpr int kControlConnections = 16;
constexpr int kControlConnectionsPerClient = 4;

ActionResult Act(AppContext& ctx, const ControlRequest& request) {
  const bool closing = ctx.cycle.shutdownRequested || ctx.cycle.closing || ctx.cycle.ended;
  if (closing && !ControlCommandWhileClosing(request.command)) return ActionResult{false, kClosingNotice};
  const ControlHandler handler = ControlCommandHandler(request.command);
  if (handler != nullptr) return handler(ctx, request.argument);
  // "stop": the same as a termination signal, but for a service, whose life
  // is the service manager's.
  if (ctx.platform.system.StartedAsService()) return ActionResult{false, kControlStopByService};
  RequestShutdown(ctx);
  return ActionResult{true, kClosingNotice};
}

std::string OpenFailureText(ControlOpenStatus status, const std::string& folder, const std::string& endpoint) {
  switch (status) {
    case ControlOpenStatus::kUnsafeFolder:
      return UnsafeFolderText(folder);
    case ControlOpenStatus::kNameTaken:
      // Windows names a pipe, not a socket.
      return endpoint + (endpoint.rfind("\\\\.\\pipe\\", 0) == 0 ? kControlPipeNameTaken : kControlNameTaken);
    case ControlOpenStatus::kPathTooLong:
      return kControlPathTooLong + endpoint;
    default:
      return kControlOpenFailed + endpoint;
  }
}

}  // namespace

std::string ControlSocketPath(const std::string& settingsDir) {
  return JoinPath(settingsDir, kControlSocketName);
}

std::string HandleControlLine(AppContext& ctx, std::string_view line) {
  const ParsedRequest parsed = ParseControlRequest(line);
  if (!parsed.ok) return FormatControlReply(ReplyStatus::kBadRequest, parsed.error);
  const ControlRequest& request = parsed.request;
  const bool logged = request.command != ControlCommand::kStatus;
  Notifier& log = ctx.platform.notifier;
  if (logged) log.Log("Comando operatore: " + PrintableText(FormatControlRequest(request)));
  ActionResult result;
  try {
    result = Act(ctx, request);
  } catch (const std::exception& e) {
    log.Log(std::string("Comando operatore interrotto: ") + e.what());
    return FormatControlReply(ReplyStatus::kBadRequest, kControlInternalError);
  }
  if (logged && !result.accepted) log.Log("Comando rifiutato: " + result.text.substr(0, result.text.find('\n')));
  return FormatControlReply(result.accepted ? ReplyStatus::kOk : ReplyStatus::kRefused, result.text);
}

ControlEndpoint::ControlEndpoint(AppContext& ctx, ControlChannel* channel) : channel_(channel) {
  if (channel_ == nullptr) return;
  ControlChannelOptions options;
  options.maxRequestBytes = kControlRequestLimit;
  options.clientTimeoutMs = kControlIdleMs;
  options.maxConnections = kControlConnections;
  options.maxPerClient = kControlConnectionsPerClient;
  options.tooLongReply = FormatControlReply(ReplyStatus::kBadRequest, kControlTooLong);
  options.busyReply = FormatControlReply(ReplyStatus::kRefused, kControlBusy);
  const std::string path = ControlSocketPath(ctx.settingsDir);
  const ControlOpenResult opened =
      channel_->Open(path, [&ctx](std::string_view line) { return HandleControlLine(ctx, line); }, options);
  if (opened.status == ControlOpenStatus::kOpen) {
    ctx.platform.notifier.Log("Comandi operatore (kolibra ctl) su " + ControlEndpointName(path));
  } else if (opened.status != ControlOpenStatus::kNotAvailable) {
    // Shown as well as logged, with the system's reason: a headless driver
    // without its endpoint has no other way to say why `kolibra ctl` cannot
    // reach it.
    ShowStatus(ctx, opened.cause.Explain("Comandi operatore non disponibili: " +
                                         OpenFailureText(opened.status, ctx.settingsDir, ControlEndpointName(path))));
  }
}

ControlEndpoint::~ControlEndpoint() {
  if (channel_ != nullptr) channel_->Close();
}

}  // namespace kolibra
