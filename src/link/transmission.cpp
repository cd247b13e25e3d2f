#include "link/transmission.h"

#include "conversion/text_util.h"
#include "core/job_files.h"
#include "core/job_journal.h"
#include "core/messages.h"
#include "core/operator_events.h"
#include "link/closing_reply.h"
#include "link/link_error.h"
#include "link/link_wait.h"
#include "link/tcp_link.h"
#include "link/trace.h"

namespace kolibra {

namespace {

// After the ECR's XON the rest of an answer follows after a short gap: the
// answer is complete once the input has been quiet this long.
constexpr int64_t kQuietAfterFlowMs = 200;
// A run of this many answers that arrive in time but do not confirm the
// command counts as one retry, so an ECR that keeps answering wrongly cannot
// keep the driver writing for ever.
constexpr int kMismatchesPerRetry = 10;

const LinkError kPortNotOpen{8018, kLinkPortNotOpen};
const LinkError kWrongSocketState{40006, kLinkWrongState};

// The message box text of an error. The procedure names are the ones the
// operators know from the driver's messages, not the names of the functions.
std::string ProcedureError(const LinkError& error, const char* procedure) {
  return ProcedureErrorText(error.number, error.description, procedure);
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}


// While the ECR holds the line nothing is written: waits for its XON, at
// most timeoutMs, appending what comes to `into`. After a time-out the line
// counts as released and the driver goes on as after any time-out.
void AwaitRelease(AppContext& ctx, int64_t timeoutMs, std::string& into) {
  if (!LineHeld(ctx)) return;
  WaitUntil(ctx, timeoutMs, [&] {
    ReceiveSerial(ctx, into);
    return !ctx.link.held;
  });
  ctx.link.held = false;
}

// Waits up to timeoutMs for an answer of at least `length` bytes. With an
// ECR that sends XON, XON/XOFF do not count, the line must not be held, and
// once XON/XOFF came the rest of the answer is waited for until the input is
// quiet. With one that never does, the answer is complete at its length.
// An XON seen during the wait switches to the first rule at once.
void AwaitSerialAnswer(AppContext& ctx, int64_t timeoutMs, std::size_t length) {
  LinkState& link = ctx.link;
  EventLoop& loop = ctx.platform.loop;
  TimeoutWindow window(ctx, timeoutMs);
  int64_t lastArrival = loop.NowMs();
  for (;;) {
    if (ReceiveSerial(ctx, link.answer)) lastArrival = loop.NowMs();
    if (link.timeoutFlag) return;
    if (!HoldsUntilXon(ctx)) {
      if (link.answer.size() >= length) return;
      window.WaitOnce();
      continue;
    }
    const bool flow = link.answer.find_first_of(std::string{kXon, kXoff}) != std::string::npos;
    const bool enough = !link.held && WithoutFlowControl(link.answer).size() >= length;
    const int64_t quietAt = lastArrival + kQuietAfterFlowMs;
    if (enough && (!flow || loop.NowMs() >= quietAt)) return;
    if (enough) {
      window.WaitOnceUntil(quietAt);
    } else {
      window.WaitOnce();
    }
  }
}

LinkResult<bool> SendCommandSerial(AppContext& ctx, const std::string& command) {
  LinkState& link = ctx.link;
  SerialPort& port = ctx.platform.serial;
  bool result = false;
  bool confirmed = false;
  int retries = 10;
  int mismatchRun = 0;
  while (retries >= 1 && !confirmed) {
    std::string early;  // came while the line was held: read as part of the answer
    AwaitRelease(ctx, 3500, early);
    if (!port.Write(command).ok()) return kPortNotOpen;
    Pause(ctx, static_cast<double>(command.size()) + 300);
    link.answer = early;
    AwaitSerialAnswer(ctx, 3500, command.size());
    if (link.timeoutFlag) link.held = false;
    if (!link.answer.empty()) {
      const std::string data = WithoutFlowControl(link.answer);
      if (data.size() == command.size()) {
        confirmed = data == command;
      } else if (data.size() > command.size()) {
        confirmed = Contains(data, command);
      }
      if (confirmed) result = true;
      TraceLine(ctx, " <-- " + link.answer);
    }
    if (link.timeoutFlag) {
      mismatchRun = 0;
      --retries;
      Pause(ctx, 300);
    } else if (!confirmed && ++mismatchRun % kMismatchesPerRetry == 0) {
      --retries;
    }
  }
  // The callers read the ECR's answer: what came after the XON follows on.
  link.answer = WithoutFlowControl(link.answer);
  return result;
}

// Starts a new exchange on the socket: bytes left from an earlier one are
// not its answers. False only when a connected socket refuses the bytes;
// `sent` tells whether they went out.
bool StartExchange(AppContext& ctx, const std::string& command, bool& sent) {
  ctx.link.answer.clear();
  ctx.link.rx.pending.clear();
  ArmReceive(ctx);
  sent = false;
  if (!SocketConnected(ctx)) return true;
  if (!ctx.platform.socket.Send(command).ok()) return false;
  sent = true;
  return true;
}

// Called just before a job line is written. Once a payment line may reach
// the ECR (from its first byte on) the ECR may close and print the receipt
// on it, whichever payment line it is: from here on a failure of the job is
// uncertain. The journal says so before the first byte goes, so that a
// restart after a kill from this point on answers the job the same way.
void NoteBeforeWriting(AppContext& ctx) {
  LinkState& link = ctx.link;
  if (!link.sendingPaymentLine || link.receiptMayBeClosed) return;
  link.receiptMayBeClosed = true;
  RecordJobStage(ctx, ctx.job.currentSlot, JobStage::kTenderSent, ctx.job.startIdentity);
}

// The command goes out once: TCP does not lose bytes, so a slow answer is
// waited for, never asked for again by writing the command a second time
// (the ECR would take it twice). A time-out only ends one slice of the wait.
LinkResult<bool> SendCommandTcp(AppContext& ctx, const std::string& command) {
  LinkState& link = ctx.link;
  if (!SocketConnected(ctx)) return false;
  bool sent = false;
  if (!StartExchange(ctx, command, sent)) return kWrongSocketState;
  bool result = false;
  bool echoed = false;
  int retries = 10;
  while (retries >= 1 && !echoed) {
    const SocketAnswer echo = AwaitAnswer(ctx, 3000, " ( 0 )", Framing{command.size(), false});
    if (echo == SocketAnswer::kSocketError) {
      TraceLine(ctx, " <-- " + link.answer + " ( WSError )");
      return false;
    }
    if (echo == SocketAnswer::kTimeout) {
      TraceLine(ctx, " <-- " + link.answer + " ( General TimeOut  )");
      --retries;
      Pause(ctx, 300);
      continue;
    }
    echoed = true;
  }
  if (!echoed) return false;
  if (!link.answer.empty() && Contains(link.answer, command)) result = true;

  bool confirmed = false;
  retries = 10;
  int mismatchRun = 0;
  while (retries >= 1 && !confirmed) {
    // Here the time-out ranks before an error that came in the same pass.
    if (AwaitAnswer(ctx, 3000, " ( 1 )") == SocketAnswer::kData) {
      if (link.answer == "K" || (!link.answer.empty() && Contains(link.answer, command))) {
        confirmed = true;
        result = true;
      } else if (++mismatchRun % kMismatchesPerRetry == 0) {
        --retries;
      }
    } else if (link.timeoutFlag) {
      mismatchRun = 0;
      TraceLine(ctx, " <-- " + link.answer + " ( TimeOut )");
      --retries;
      Pause(ctx, 300);
    } else if (++mismatchRun % kMismatchesPerRetry == 0) {
      // Only an error flag: wait again (the next wait clears it). Errors that
      // keep ending the wait before its time-out (a refused reconnect after
      // every error) count like mismatching answers, so the loop ends.
      --retries;
    }
  }
  return result;
}

// As SendCommandTcp, the line goes out once and slow answers are waited for
// (3 slices of 3000 + 300 ms for the echo, as many for the second answer).
LinkResult<bool> JobLineOverTcp(AppContext& ctx, const std::string& command) {
  LinkState& link = ctx.link;
  if (SocketConnected(ctx)) NoteBeforeWriting(ctx);
  bool sent = false;
  if (!StartExchange(ctx, command, sent)) return kWrongSocketState;
  TraceLine(ctx, " --> " + command);
  bool echoed = false;
  int retries = 3;
  while (retries >= 1 && !echoed) {
    const SocketAnswer echo = AwaitAnswer(ctx, 3000, "", Framing{command.size(), false});
    if (echo == SocketAnswer::kSocketError) return false;
    if (echo == SocketAnswer::kTimeout) {
      --retries;
      Pause(ctx, 300);
      continue;
    }
    echoed = true;
  }
  if (!echoed) return false;
  if (command.size() == 1) return true;
  retries = 3;
  while (retries >= 1) {
    // A closing reply with nothing before it (left pending) stands for the
    // answer too: the ECR has taken the line.
    if (AwaitAnswer(ctx, 3000, "", Framing{0, true}) == SocketAnswer::kData) return true;
    if (SocketErrorFlagged(ctx)) return false;
    if (link.timeoutFlag) {
      --retries;
      Pause(ctx, 300);
    }
  }
  return false;
}

// Sends the lines; the closing reply follows the last payment line. Its
// records go to a fresh output file, created under a fresh temporary name
// before anything is sent: a job whose output file cannot even be created
// is not sent (nothing is printed that could not be reported).
LinkResult<bool> SendLinesWithReply(AppContext& ctx, const std::vector<std::string>& lines) {
  ctx.link.outputBytes.clear();
  const Status created = CreateTemporaryFor(ctx, ctx.link.outputPath, ctx.link.output, ctx.link.outputTemporary);
  if (!created.ok()) {
    ctx.platform.notifier.Log(created.Explain("Impossibile scrivere " + ShownPath(ctx, ctx.link.outputPath)));
    return LinkError{75, kLinkFileAccess};
  }
  const bool network = NetworkMode(ctx);
  for (const std::string& line : lines) {
    const bool tender = ctx.tenderLineCount >= 1 && IsTenderLine(line);
    ctx.link.sendingPaymentLine = tender;
    const bool sent = network ? SendJobLineTcp(ctx, line) : SendJobLineSerial(ctx, line);
    ctx.link.sendingPaymentLine = false;
    if (!sent) return false;
    ++ctx.job.jobLinesSent;
    if (tender) {
      --ctx.tenderLineCount;
      if (ctx.tenderLineCount == 0) {
        LinkResult<bool> reply = ReadClosingReply(ctx);
        if (reply.HasError() || !reply.Value()) return reply;
      }
    }
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

void InitLink(AppContext& ctx) {
  if (ctx.link.timeoutTimer < 0) ctx.link.timeoutTimer = ctx.platform.loop.CreateTimer([&ctx] { OnTimeoutTick(ctx); });
  SocketEvents events;
  events.onConnected = [&ctx] { OnSocketConnected(ctx); };
  events.onDataArrival = [&ctx](std::size_t bytes) { OnSocketData(ctx, bytes); };
  events.onError = [&ctx](int number, const Status& failure, int status) {
    OnSocketError(ctx, number, failure, status);
  };
  ctx.platform.socket.SetEvents(std::move(events));
}

void OnTimeoutTick(AppContext& ctx) {
  if (ctx.link.timeoutCountdown > 0) --ctx.link.timeoutCountdown;
  if (ctx.link.timeoutCountdown == 0) ctx.link.timeoutFlag = true;
}

void Pause(AppContext& ctx, double ms) {
  if (!(ms >= 100)) return;
  const auto slices = static_cast<int64_t>(ms / 100);
  EventLoop& loop = ctx.platform.loop;
  for (int64_t i = 0; i < slices; ++i) {
    loop.SleepBlocking(100);
    loop.Wait(loop.NowMs());
  }
}

bool SendCommand(AppContext& ctx, const std::string& command) {
  ctx.link.answer.clear();
  TraceLine(ctx, " --> " + command);
  const LinkResult<bool> sent =
      NetworkMode(ctx) ? SendCommandTcp(ctx, command) : SendCommandSerial(ctx, command);
  if (!sent.HasError()) return sent.Value();
  ShowMessage(ctx, ProcedureError(sent.Error(), "SendString"));
  Pause(ctx, 3000);
  return false;
}

bool SendJobLineSerial(AppContext& ctx, const std::string& command) {
  LinkState& link = ctx.link;
  SerialPort& port = ctx.platform.serial;
  link.answer.clear();
  link.rx.pending.clear();
  // An XOFF after the last line holds this one back until the XON, from an
  // ECR that sends XON; otherwise the pause after that XOFF was enough.
  AwaitRelease(ctx, 4500, link.answer);
  NoteBeforeWriting(ctx);
  port.Write(command);  // a failing port shows as no answer
  TraceLine(ctx, " --> " + command);
  WaitUntil(ctx, 4500, [&] {
    ReceiveSerial(ctx, link.answer);
    return link.answer.size() >= command.size() && port.InputCount() == 0;
  });
  if (link.timeoutFlag) link.held = false;
  if (link.answer.find(kXoff) != std::string::npos) Pause(ctx, 200);
  TraceLine(ctx, " <-- " + link.answer);
  // What came after the echo from the closing reply's STX on is the start
  // of that reply: kept for the closing-reply step.
  const std::size_t reply = link.answer.find('\x02', command.size());
  if (reply != std::string::npos) link.rx.pending = link.answer.substr(reply);
  // Bytes can be lost on a wire, but silence means the ECR is not there.
  return !link.answer.empty();
}

bool SendJobLineTcp(AppContext& ctx, const std::string& command) {
  const LinkResult<bool> sent = JobLineOverTcp(ctx, command);
  if (!sent.HasError()) return sent.Value();
  const std::string text = ProcedureError(sent.Error(), "SendStringWinsock");
  TraceLine(ctx, " <-- " + text);
  ShowMessage(ctx, text);
  Pause(ctx, 3000);
  return false;
}

bool SendJobLines(AppContext& ctx, const std::vector<std::string>& lines) {
  ctx.link.receiptMayBeClosed = false;
  ctx.link.sendingPaymentLine = false;
  const LinkResult<bool> sent = SendLinesWithReply(ctx, lines);
  if (sent.HasError()) ShowMessage(ctx, ProcedureError(sent.Error(), "DoSendFile"));
  CloseResultFile(ctx, ctx.link.output, ctx.link.outputPath);
  return !sent.HasError() && sent.Value();
}

}  // namespace kolibra
