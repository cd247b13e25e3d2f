#include "app/control_server.h"

#include <exception>

#include "app/job_cycle.h"
#include "app/startup.h"
#include "ui/control_protocol.h"
#include "ui/operator_actions.h"
#include "ui/status_json.h"

namespace kolibra {

namespace {

constexpr const char* kClosingText = " Chiusura programma Kolibra in corso ...";

// "Set timer" with the value typed into the polling box. A refusal leaves the
// box as it was. A value that is not allowed is not a refusal: the
// one-second default is in force and saved, and the answer says so.
ActionResult SetPolling(AppContext& ctx, const std::string& value) {
  const std::string before = ctx.ui.timerValue;
  ctx.ui.timerValue = value;
  const PollingChange change = ApplyPollingValue(ctx);
  if (change.outcome == PollingChange::kRefused) {
    ctx.ui.timerValue = before;
    return ActionResult{false, change.message};
  }
  const std::string shown = PollingText(ctx);
  return ActionResult{true, change.message.empty() ? shown : change.message + "\n" + shown};
}

ActionResult Act(AppContext& ctx, const ControlRequest& request) {
  const std::string& arg = request.argument;
  switch (request.command) {
    case ControlCommand::kStatus:
      return ActionResult{true, arg == "--json" ? StatusJson(ctx) : WindowStatusText(ctx)};
    case ControlCommand::kStop:
      // The same as a termination signal.
      RequestShutdown(ctx);
      return ActionResult{true, kClosingText};
    default:
      break;
  }
  // The window is gone once shutdown has begun.
  if (ctx.cycle.shutdownRequested || ctx.cycle.closing || ctx.cycle.ended) {
    return ActionResult{false, kClosingText};
  }
  switch (request.command) {
    case ControlCommand::kTestReceipt: return PressTestButton(ctx);
    case ControlCommand::kSetPolling: return SetPolling(ctx, arg);
    case ControlCommand::kSetSpeed: return ChooseSpeed(ctx, arg);
    case ControlCommand::kSlots: return SetSlotBoxes(ctx, arg);
    case ControlCommand::kMode: return ChooseLinkMode(ctx, arg == "network");
    case ControlCommand::kAddress: return TypeAddress(ctx, arg);
    case ControlCommand::kResetConnection: return PressResetConnection(ctx);
    case ControlCommand::kTrace: return SetTraceBox(ctx, arg == "on");
    case ControlCommand::kPassThrough: return SetPassThroughBox(ctx, arg == "on");
    case ControlCommand::kPayments: return ChoosePayments(ctx, arg.empty() ? 0 : arg[0] - '0');
    case ControlCommand::kFourthPayment: return SetFourthPaymentBox(ctx, arg == "card");
    case ControlCommand::kStatus:
    case ControlCommand::kStop:
      break;
  }
  return ActionResult{false, "comando non gestito"};
}

std::string OpenFailureText(ControlOpenStatus status, const std::string& folder, const std::string& endpoint) {
  switch (status) {
    case ControlOpenStatus::kUnsafeFolder:
      return "la cartella " + folder + " deve essere dell'utente di Kolibra e scrivibile solo da lui";
    case ControlOpenStatus::kNameTaken:
      return endpoint + " esiste e non e' un socket di Kolibra";
    case ControlOpenStatus::kPathTooLong:
      return "percorso troppo lungo: " + endpoint;
    default:
      return "impossibile aprire " + endpoint;
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
    return FormatControlReply(ReplyStatus::kBadRequest, "errore interno, comando interrotto");
  }
  if (logged && !result.accepted) log.Log("Comando rifiutato: " + result.text.substr(0, result.text.find('\n')));
  return FormatControlReply(result.accepted ? ReplyStatus::kOk : ReplyStatus::kRefused, result.text);
}

ControlEndpoint::ControlEndpoint(AppContext& ctx, ControlChannel* channel) : channel_(channel) {
  if (channel_ == nullptr) return;
  ControlChannelOptions options;
  options.maxRequestBytes = kControlRequestLimit;
  options.tooLongReply = FormatControlReply(ReplyStatus::kBadRequest, "richiesta troppo lunga");
  options.busyReply = FormatControlReply(ReplyStatus::kRefused, "Kolibra occupato: troppe richieste insieme");
  const std::string path = ControlSocketPath(ctx.settingsDir);
  const ControlOpenStatus status =
      channel_->Open(path, [&ctx](std::string_view line) { return HandleControlLine(ctx, line); }, options);
  if (status == ControlOpenStatus::kOpen) {
    ctx.platform.notifier.Log("Comandi operatore (kolibra ctl) su " + ControlEndpointName(path));
  } else if (status != ControlOpenStatus::kNotAvailable) {
    ctx.platform.notifier.Log("Comandi operatore non disponibili: " +
                              OpenFailureText(status, ctx.settingsDir, ControlEndpointName(path)));
  }
}

ControlEndpoint::~ControlEndpoint() {
  if (channel_ != nullptr) channel_->Close();
}

}  // namespace kolibra
