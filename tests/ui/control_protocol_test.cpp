// The ctl request protocol: which lines are requests, and the answers' form.
#include "ui/control_protocol.h"

#include <gtest/gtest.h>

namespace kolibra {
namespace {

TEST(ControlProtocol, RequestLinesAndAnswers) {
  const std::string usage = "argomento non valido, si scrive: ";
  const std::string control = "richiesta non valida: contiene caratteri di controllo";
  // detail: the argument when ok, else the error.
  const struct { std::string line; bool ok; std::string detail; } cases[] = {
      {"status", true, ""}, {"set-polling  5", true, " 5"},  // the polling box takes any text
      {"fourth-payment cash", true, "cash"}, {"status --json", true, "--json"},
      {"", false, "comando sconosciuto ''"}, {"STATUS", false, "comando sconosciuto 'STATUS'"},
      {" status", false, "comando sconosciuto ''"}, {"st\xe0tus", false, "comando sconosciuto 'st\xe0tus'"},
      {"status ", false, usage + "status [--json]"}, {"status json", false, usage + "status [--json]"},
      {"stop now", false, "'stop' non vuole argomenti"},
      {"trace", false, usage + "trace on|off"}, {"trace yes", false, usage + "trace on|off"},
      {"slots 01010", false, usage + "slots XXXX"}, {"slots 01a1", false, usage + "slots XXXX"},
      {"set-speed 1234567890", false, usage + "set-speed 9600|19200|38400|57600|115200"},
      {"set-polling ", false, usage + "set-polling VALORE"},
      {"set-polling " + std::string(65, '5'), false, usage + "set-polling VALORE"},
      {"status\x1b[2J", false, control}, {std::string("stop\0", 5), false, control},
      {std::string(600, 'x'), false, "richiesta troppo lunga"},
  };
  for (const auto& c : cases) {
    const ParsedRequest p = ParseControlRequest(c.line);
    EXPECT_EQ(p.ok, c.ok) << c.line;
    EXPECT_EQ(c.ok ? p.request.argument : p.error, c.detail) << c.line;
    if (p.ok) { EXPECT_EQ(FormatControlRequest(p.request), c.line); }
  }
  // Answers: a status word, then printable text.
  EXPECT_EQ(FormatControlReply(ReplyStatus::kOk, ""), "OK\n");
  EXPECT_EQ(ParseControlReply("ERR\n").status, ReplyStatus::kBadRequest);
  EXPECT_FALSE(ParseControlReply("OK").ok || ParseControlReply("MAYBE\nx\n").ok);
  EXPECT_EQ(PrintableText("a\x1b[2J\r\nb\x7f\xe0"), "a\\x1B[2J\\x0D\\x0Ab\\x7F\xe0");
}

}  // namespace
}  // namespace kolibra
