#include "ui/control_protocol.h"

#include <array>

#include "core/messages.h"
#include "ui/operator_actions.h"
#include "ui/status_json.h"

namespace kolibra {

namespace {

// What a command takes after its word.
// kFlag: nothing, or one of the choices.
enum class ArgKind { kNone, kText, kDigits, kSlots, kChoice, kFlag };

struct CommandSpec {
  ControlCommand command;
  const char* name;
  ArgKind arg;
  const char* usage;                    // the argument as the help shows it
  std::array<const char*, 3> choices;   // for kChoice and kFlag
  const char* help;                     // what it does, for the help text
  ControlHandler handler;               // null: the program's life handles it
  bool whileClosing;                    // still answered once shutdown has begun
};

using Arg = const std::string&;

constexpr std::array<CommandSpec, 13> kCommands{{
    {ControlCommand::kStatus, "status", ArgKind::kFlag, "[--json]", {"--json"},
     "quello che mostra la finestra; --json in JSON",
     [](AppContext& c, Arg a) { return ActionResult{true, a == "--json" ? StatusJson(c) : WindowStatusText(c)}; },
     true},
    {ControlCommand::kTestReceipt, "test-receipt", ArgKind::kNone, "", {},
     "\" Esegui Test\": scontrino di prova", [](AppContext& c, Arg) { return PressTestButton(c); }, false},
    {ControlCommand::kSetPolling, "set-polling", ArgKind::kText, "VALORE", {},
     "\"Set timer\": 1-60 secondi o 100-60000 ms (500ms)", &SetPolling, false},
    {ControlCommand::kSetSpeed, "set-speed", ArgKind::kDigits, "9600|19200|38400|57600|115200", {},
     "\"Set velocita'\" della seriale", &ChooseSpeed, false},
    {ControlCommand::kSlots, "slots", ArgKind::kSlots, "XXXX", {},
     "caselle delle porte COM 1-4, 1 = attiva (1100)", &SetSlotBoxes, false},
    {ControlCommand::kMode, "mode", ArgKind::kChoice, "serial|network", {"serial", "network"},
     "\"Seriale\" o \"Rete\"", [](AppContext& c, Arg a) { return ChooseLinkMode(c, a == "network"); }, false},
    {ControlCommand::kAddress, "address", ArgKind::kText, "A.B.C.D", {},
     "indirizzo IP dell'Ecr, poi \"Valida IP\"", &TypeAddress, false},
    {ControlCommand::kResetConnection, "reset-connection", ArgKind::kNone, "", {},
     "\"Reset Connessione\"", [](AppContext& c, Arg) { return PressResetConnection(c); }, false},
    {ControlCommand::kTrace, "trace", ArgKind::kChoice, "on|off", {"on", "off"},
     "\"Abilita Trace\"", [](AppContext& c, Arg a) { return SetTraceBox(c, a == "on"); }, false},
    {ControlCommand::kPassThrough, "pass-through", ArgKind::kChoice, "on|off", {"on", "off"},
     "\"Attiva Input Xon-Xoff\"", [](AppContext& c, Arg a) { return SetPassThroughBox(c, a == "on"); }, false},
    {ControlCommand::kPayments, "payments", ArgKind::kChoice, "5|6|8", {"5", "6", "8"},
     "\"N. dei Pagamenti\"",
     [](AppContext& c, Arg a) { return ChoosePayments(c, a.empty() ? 0 : a[0] - '0'); }, false},
    {ControlCommand::kFourthPayment, "fourth-payment", ArgKind::kChoice, "card|cash", {"card", "cash"},
     "\"Pagam.4 = Bancomat\" (card) o no (cash)",
     [](AppContext& c, Arg a) { return SetFourthPaymentBox(c, a == "card"); }, false},
    {ControlCommand::kStop, "stop", ArgKind::kNone, "", {},
     "chiude in ordine; un servizio: systemctl stop", nullptr, true},
}};

// A text argument (polling value, address) is at most this long.
constexpr std::size_t kTextArgumentLimit = 64;
constexpr std::size_t kDigitsLimit = 9;

const CommandSpec* FindSpec(std::string_view name) {
  for (const CommandSpec& spec : kCommands) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

const CommandSpec& SpecOf(ControlCommand command) {
  for (const CommandSpec& spec : kCommands) {
    if (spec.command == command) return spec;
  }
  return kCommands[0];
}

bool IsControlByte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b < 0x20 || b == 0x7F;
}

std::string Usage(const CommandSpec& spec) {
  std::string text = spec.name;
  if (spec.arg != ArgKind::kNone) text += std::string(" ") + spec.usage;
  return text;
}

ParsedRequest Refuse(std::string error) {
  ParsedRequest parsed;
  parsed.error = std::move(error);
  return parsed;
}

bool ArgumentFits(const CommandSpec& spec, std::string_view arg) {
  switch (spec.arg) {
    case ArgKind::kNone:
      return arg.empty();
    case ArgKind::kText:
      return !arg.empty() && arg.size() <= kTextArgumentLimit;
    case ArgKind::kDigits:
      if (arg.empty() || arg.size() > kDigitsLimit) return false;
      for (char c : arg) {
        if (c < '0' || c > '9') return false;
      }
      return true;
    case ArgKind::kSlots:
      if (arg.size() != 4) return false;
      for (char c : arg) {
        if (c != '0' && c != '1') return false;
      }
      return true;
    case ArgKind::kFlag:
      if (arg.empty()) return true;
      [[fallthrough]];
    case ArgKind::kChoice:
      for (const char* choice : spec.choices) {
        if (choice != nullptr && arg == choice) return true;
      }
      return false;
  }
  return false;
}

}  // namespace

ParsedRequest ParseControlRequest(std::string_view line) {
  for (char c : line) {
    if (IsControlByte(c)) return Refuse("richiesta non valida: contiene caratteri di controllo");
  }
  if (line.size() > kControlRequestLimit) return Refuse(kControlTooLong);
  const std::size_t space = line.find(' ');
  const std::string_view word = line.substr(0, space);
  const std::string_view arg = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
  const CommandSpec* spec = FindSpec(word);
  if (spec == nullptr) {
    return Refuse("comando sconosciuto '" + PrintableText(word.substr(0, 40)) + "'");
  }
  // A space promises an argument.
  const bool emptyArgument = space != std::string_view::npos && arg.empty();
  if (!ArgumentFits(*spec, arg) || (spec->arg == ArgKind::kNone && space != std::string_view::npos) ||
      emptyArgument) {
    if (spec->arg == ArgKind::kNone) return Refuse(std::string("'") + spec->name + "' non vuole argomenti");
    return Refuse(std::string("argomento non valido, si scrive: ") + Usage(*spec));
  }
  ParsedRequest parsed;
  parsed.ok = true;
  parsed.request.command = spec->command;
  parsed.request.argument = std::string(arg);
  return parsed;
}

std::string FormatControlRequest(const ControlRequest& request) {
  std::string line = ControlCommandName(request.command);
  const ArgKind kind = SpecOf(request.command).arg;
  if (kind != ArgKind::kNone && !(kind == ArgKind::kFlag && request.argument.empty())) {
    line += " " + request.argument;
  }
  return line;
}

const char* ControlCommandName(ControlCommand command) { return SpecOf(command).name; }

ControlHandler ControlCommandHandler(ControlCommand command) { return SpecOf(command).handler; }

bool ControlCommandWhileClosing(ControlCommand command) { return SpecOf(command).whileClosing; }

std::string ControlUsageLine() { return "uso: kolibra ctl [--settings-dir DIR] COMANDO [ARG]"; }

std::string ControlCommandsHelp() {
  std::string text;
  for (const CommandSpec& spec : kCommands) {
    std::string usage = Usage(spec);
    // The long usages go on a line of their own.
    usage.resize(usage.size() < 30 ? 30 : usage.size(), ' ');
    text += "  " + usage + (usage.size() > 30 ? "\n" + std::string(32, ' ') : "") + spec.help + "\n";
  }
  return text;
}

std::string FormatControlReply(ReplyStatus status, std::string_view text) {
  std::string reply = status == ReplyStatus::kOk ? "OK" : status == ReplyStatus::kRefused ? "NO" : "ERR";
  reply += '\n';
  reply.append(text);
  if (!text.empty() && text.back() != '\n') reply += '\n';
  return reply;
}

ParsedReply ParseControlReply(std::string_view reply) {
  ParsedReply parsed;
  const std::size_t lf = reply.find('\n');
  if (lf == std::string_view::npos) return parsed;
  const std::string_view word = reply.substr(0, lf);
  if (word == "OK") {
    parsed.status = ReplyStatus::kOk;
  } else if (word == "NO") {
    parsed.status = ReplyStatus::kRefused;
  } else if (word == "ERR") {
    parsed.status = ReplyStatus::kBadRequest;
  } else {
    return parsed;
  }
  parsed.ok = true;
  parsed.text = std::string(reply.substr(lf + 1));
  return parsed;
}

std::string PrintableText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (IsControlByte(c)) {
      const auto b = static_cast<unsigned char>(c);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace kolibra
