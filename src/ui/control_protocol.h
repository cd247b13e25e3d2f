// The request protocol of `kolibra ctl`: one request line per connection,
// "COMMAND" or "COMMAND ARGUMENT" (the argument is the rest of the line), and
// one answer: a status word on the first line, then the text for the
// operator, line by line. The client and the driver both parse with this.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kolibra {

struct AppContext;
struct ActionResult;

// Name of the control endpoint in the settings folder.
inline constexpr const char* kControlSocketName = "kolibra.sock";
// Longest request line (without its line end).
inline constexpr std::size_t kControlRequestLimit = 512;

enum class ControlCommand {
  kStatus,
  kTestReceipt,
  kSetPolling,
  kSetSpeed,
  kSlots,
  kMode,
  kAddress,
  kResetConnection,
  kTrace,
  kPassThrough,
  kPayments,
  kFourthPayment,
  kStop,
};

struct ControlRequest {
  ControlCommand command = ControlCommand::kStatus;
  std::string argument;  // empty for the commands without one
};

struct ParsedRequest {
  bool ok = false;
  ControlRequest request;
  std::string error;  // Italian, for the operator, when !ok
};

// Reads a request line (no line end). Checks the command word and the form
// of its argument; whether a value is accepted (an address, a speed in the
// list) is for the action to say.
ParsedRequest ParseControlRequest(std::string_view line);
// The request line of a request (no line end).
std::string FormatControlRequest(const ControlRequest& request);
// The command word of a command.
const char* ControlCommandName(ControlCommand command);

// What a command does in the driver, given its argument.
using ControlHandler = ActionResult (*)(AppContext& ctx, const std::string& argument);
// The handler of a command; null for "stop", which the program's life takes.
ControlHandler ControlCommandHandler(ControlCommand command);
// Whether the command is still answered once shutdown has begun (the window
// is gone then).
bool ControlCommandWhileClosing(ControlCommand command);

// The usage line and the list of commands, for `kolibra ctl --help`.
std::string ControlUsageLine();
std::string ControlCommandsHelp();

enum class ReplyStatus { kOk, kRefused, kBadRequest };

// "OK", "NO" or "ERR", a line feed, then the text, each line ended by a line
// feed.
std::string FormatControlReply(ReplyStatus status, std::string_view text);

struct ParsedReply {
  bool ok = false;  // false: not an answer of this protocol
  ReplyStatus status = ReplyStatus::kBadRequest;
  std::string text;  // the lines after the status word
};
ParsedReply ParseControlReply(std::string_view reply);

// Text safe to show on one line of a terminal: control bytes and DEL are
// written as \xNN; other bytes stay as they are.
std::string PrintableText(std::string_view text);

}  // namespace kolibra
