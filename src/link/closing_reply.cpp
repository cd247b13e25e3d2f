#include "link/closing_reply.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "conversion/numbers.h"
#include "core/messages.h"
#include "link/link_wait.h"
#include "link/tcp_link.h"
#include "link/trace.h"

namespace kolibra {

namespace {

constexpr char kEtx = '\x03';
// A reply that keeps arriving in pieces without its ETX uses one attempt per
// this many pieces, so the step ends even then.
constexpr int kChunksPerAttempt = 20;
const char kAck[] = "\x06";
const LinkError kReplyTooShort{5, kLinkBadReply};

// The n characters at 0-based index start; nullopt for a field outside the
// reply, never a read past its ends.
std::optional<std::string> Field(const std::string& reply, long long start, std::size_t n) {
  if (start < 0 || static_cast<std::size_t>(start) + n > reply.size()) return std::nullopt;
  return reply.substr(static_cast<std::size_t>(start), n);
}

void ReplaceAll(std::string& s, char from, char to) {
  for (char& c : s) {
    if (c == from) c = to;
  }
}

// Numeric as the ECR's fields are read: blanks around an optionally signed
// decimal number.
bool ParseNumber(const std::string& text, double& value) {
  constexpr NumberForm kReplyField{" ", true, true, ""};
  const std::optional<double> v = kolibra::ParseNumber(text, kReplyField);
  if (v) value = *v;
  return v.has_value();
}

// Kept in memory: the output file is written whole when the sending ends,
// or later, when the disk takes it.
void WriteRecord(AppContext& ctx, const std::string& record) { ctx.link.outputBytes += record + "\r\n"; }

// Writes the records of the reply in ctx.link.answer and traces the reply.
// A reply without its frame (none came, or it is incomplete) writes nothing
// and is false: whether the receipt was closed is not known. One too short
// for its fields is an error and writes nothing either. The last step of
// both reads.
LinkResult<bool> WriteReply(AppContext& ctx) {
  const LinkResult<std::optional<OutputRecords>> records =
      BuildOutputRecords(ctx.link.answer, ctx.settings.footerRt, ctx.dump.tenderFamily == "FT");
  if (records.HasError()) return records.Error();
  if (!records.Value()) return false;
  WriteRecord(ctx, records.Value()->time);
  WriteRecord(ctx, records.Value()->date);
  TraceLine(ctx, " <-- " + ctx.link.answer);
  return true;
}

// The reply is read until its ETX, starting with what came after the last
// payment line's echo: at 9600 baud it arrives a few bytes per read, and
// the FT models' replies are longer than the others'.
LinkResult<bool> ReadSerial(AppContext& ctx) {
  LinkState& link = ctx.link;
  SerialPort& port = ctx.platform.serial;
  link.timeoutFlag = false;
  link.answer.clear();
  link.answer.swap(link.rx.pending);
  std::size_t scanned = 0;
  bool complete = false;
  // The acknowledgement is not written while the ECR holds the line (one
  // that sends XON).
  WaitUntil(ctx, 3000, [&] {
    ReceiveSerial(ctx, link.answer);
    complete = complete || link.answer.find(kEtx, scanned) != std::string::npos;
    scanned = link.answer.size();
    return complete && !LineHeld(ctx);
  });
  if (link.timeoutFlag) link.held = false;
  port.Write(kAck);  // acknowledged even when nothing came; a port failure is passed over
  TraceLine(ctx, " <-- " + link.answer);
  return WriteReply(ctx);
}

void Acknowledge(AppContext& ctx) {
  ArmReceive(ctx);
  if (SocketConnected(ctx)) ctx.platform.socket.Send(kAck);
}

// The reply's pieces are joined until its ETX: each wait for a piece has
// 1500 ms, five time-outs end the step. The pieces are not traced here; the
// whole reply is traced once it has been parsed.
LinkResult<bool> ReadNetwork(AppContext& ctx) {
  LinkState& link = ctx.link;
  std::string reply;
  int attempts = 5;
  int chunks = 0;
  bool complete = false;
  while (attempts >= 1 && !complete) {
    const SocketAnswer piece = AwaitAnswer(ctx, 1500, std::nullopt);
    if (piece == SocketAnswer::kSocketError) return false;
    if (piece == SocketAnswer::kTimeout) {
      --attempts;
      continue;
    }
    const std::size_t scanFrom = reply.size();
    reply += link.answer;
    complete = reply.find(kEtx, scanFrom) != std::string::npos;
    if (!complete && ++chunks % kChunksPerAttempt == 0) --attempts;
  }
  link.answer = std::move(reply);
  if (complete) Acknowledge(ctx);
  return WriteReply(ctx);
}

}  // namespace

std::string FormatFourDigits(const std::string& field) {
  double v = 0;
  if (!ParseNumber(field, v)) return field;
  const long long n = std::llround(v);
  char buf[32];
  if (n < 0) {
    std::snprintf(buf, sizeof buf, "-%04lld", -n);
  } else {
    std::snprintf(buf, sizeof buf, "%04lld", n);
  }
  return buf;
}

LinkResult<std::optional<OutputRecords>> BuildOutputRecords(const std::string& reply, bool footerRt,
                                                            bool modelFt) {
  const std::size_t stx = reply.find('\x02');
  const std::size_t etx = reply.find('\x03');
  if (stx == std::string::npos || etx == std::string::npos) return std::optional<OutputRecords>();
  const long long s = static_cast<long long>(stx);
  const long long e = static_cast<long long>(etx);
  // Every field is taken before anything is built, so a short reply fails whole.
  const std::optional<std::string> day = Field(reply, s + 1, 2);
  const std::optional<std::string> month = Field(reply, s + 4, 2);
  const std::optional<std::string> year = Field(reply, s + 9, 2);
  std::optional<std::string> time = Field(reply, s + 12, 5);
  const long long shift = modelFt ? 16 : 0;
  const std::optional<std::string> number = Field(reply, e - 6 - shift, 4);
  const std::optional<std::string> first = footerRt ? Field(reply, e - 11 - shift, 4) : std::string();
  if (!day || !month || !year || !time || !number || !first) return kReplyTooShort;

  ReplaceAll(*time, '-', ':');
  const std::string date = *day + "/" + *month + "/" + *year;
  OutputRecords r;
  r.time = "TIME,CASS. 1 " + *time + " CASSA   1 ,E,A1;";
  if (footerRt) {
    r.date = "DATE," + date + "  SCONTR. N. " + FormatFourDigits(*first) + "-" + FormatFourDigits(*number) +
             ",E,A1;";
  } else {
    r.date = "DATE," + date + "  SCONTR. N. " + *number + ",E,A1;";
  }
  return std::optional<OutputRecords>(std::move(r));
}

LinkResult<bool> ReadClosingReply(AppContext& ctx) {
  return NetworkMode(ctx) ? ReadNetwork(ctx) : ReadSerial(ctx);
}

}  // namespace kolibra
