#include "outcome/dump.h"

#include <exception>
#include <string>

#include "core/file_util.h"
#include "core/job_files.h"
#include "core/messages.h"
#include "core/operator_events.h"
#include "core/version.h"
#include "link/link_wait.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "link/trace.h"
#include "link/transmission.h"

namespace kolibra {
namespace {

constexpr const char* kResetCommand = " K";
constexpr const char* kStatusCommand = "48F";
constexpr const char* kIdentCommand = "47F";
constexpr const char* kSerialCommand = "41F";

bool ValidSlot(int slot) { return slot >= 1 && slot <= kSlotCount; }

// The payments list from the tender family: 0 "5 PAGAMENTI", 1 "6", 2 "8".
void SetPaymentsFromFamily(AppContext& ctx, const std::string& family) {
  if (family == "ZT" || family == "AT") {
    ctx.settings.paymentsIndex = 0;
  } else if (family == "ST") {
    ctx.settings.paymentsIndex = 1;
  } else if (family == "OT" || family == "ET" || family == "FT") {
    ctx.settings.paymentsIndex = 2;
  }
}

std::string Last(const std::string& s, std::size_t n) {
  return s.size() > n ? s.substr(s.size() - n) : s;
}

// The exchange itself; returns the dump result code and leaves the serial
// number text in serial.
int16_t Exchange(AppContext& ctx, std::string& serial) {
  DumpState& d = ctx.dump;
  LinkState& link = ctx.link;

  link.answer.clear();
  // An unanswered status request skips the identification and goes straight
  // to the serial-number request.
  const bool statusAnswered = SendCommand(ctx, kStatusCommand);
  if (statusAnswered) {
    link.answer = Last(link.answer, 1);
    if (link.answer == "6") {
      d.rt = true;
      ctx.settings.footerRt = true;
      TraceLine(ctx, " <-- " + link.answer);
    }
  }

  link.answer.clear();
  if (statusAnswered && SendCommand(ctx, kIdentCommand) && link.answer.size() >= 20) {
    const std::string ident = Last(link.answer, 20);
    d.mfSerial = ident.substr(0, 8);
    d.rtSerial = ident.substr(9, 11);
    TraceLine(ctx, " <-- " + ident);
    d.tenderFamily = d.rtSerial.substr(3, 2);
    SetPaymentsFromFamily(ctx, d.tenderFamily);
    ctx.settings.footerRt = d.rt;
  }

  link.answer.clear();
  int16_t result = SendCommand(ctx, kSerialCommand) ? 0 : -1;
  serial = Last(link.answer, 8);
  // An answer that is only the command's echo carries no serial number:
  // the dump failed, and is reported like any other failed dump.
  if (serial == kSerialCommand) result = -1;
  TraceLine(ctx, " <-- " + serial);
  return result;
}

}  // namespace

bool DumpMayStart(const AppContext& ctx, int16_t slot) {
  return !ctx.dump.inProgress && !ctx.cycle.jobBusy && !ctx.cycle.closing && ValidSlot(slot);
}

DumpEnd StartDump(AppContext& ctx, int16_t slot) {
  // Refused while a job or another dump uses the link, or while closing;
  // the port is then left as the running job or dump has it.
  if (!DumpMayStart(ctx, slot)) return DumpEnd{};

  ctx.dump.inProgress = true;
  ctx.job.currentSlot = slot;

  if (ctx.settings.linkMode == LinkMode::kSerial) OpenSerialPort(ctx);
  // A connection the ECR dropped is opened again, so that the next try
  // reaches an ECR that came back; this try fails at once.
  const int socketState = ctx.platform.socket.State();
  if (NetworkMode(ctx) && (socketState == kSocketClosed || socketState == kSocketError)) {
    OpenConnection(ctx, false);
  }
  DumpEnd end;
  if (SendCommand(ctx, kResetCommand)) {
    ctx.dump.pending[slot - 1] = true;
    end = RunDump(ctx);
  } else {
    // An ECR that does not answer at all fails the dump like any other
    // failure, so that a job waiting for it gets an error file instead of
    // waiting for ever; the next tick tries again.
    end = FinishDump(ctx, "", -1);
  }
  ctx.dump.inProgress = false;
  if (ctx.settings.linkMode == LinkMode::kSerial) CloseSerialPort(ctx);
  return end;
}

DumpEnd RunDump(AppContext& ctx) {
  DumpState& d = ctx.dump;
  d.running = true;
  d.rt = false;
  ctx.settings.footerRt = false;
  d.mfSerial.clear();
  d.rtSerial.clear();

  // tracedump.txt is replaced at every dump; lines go in only with the trace box ticked.
  OpenTraceFile(ctx, JoinPath(ctx.dataDir, "tracedump.txt"));

  // The link reports its failures as results; whatever else escapes the
  // exchange (the standard library running out of memory) is logged and the
  // dump ends as a failed one, so that polling goes on.
  std::string serial;
  int16_t result = -1;
  try {
    result = Exchange(ctx, serial);
  } catch (const std::exception& e) {
    ctx.platform.notifier.Log(std::string("Dump interrotto: ") + e.what());
  } catch (...) {
    ctx.platform.notifier.Log("Dump interrotto: errore sconosciuto");
  }
  const DumpEnd end = FinishDump(ctx, serial, result);

  CloseTraceFile(ctx);
  d.running = false;
  return end;
}

DumpEnd FinishDump(AppContext& ctx, const std::string& reply, int16_t result) {
  const int n = ctx.job.currentSlot;
  DriverState& state = ctx.state;
  DumpState& d = ctx.dump;
  DumpEnd end{.ran = true};

  if (ValidSlot(n)) {
    if (result == 0) {
      d.pending[n - 1] = false;
      // One ECR per driver: the other slots are switched off.
      for (int s = 1; s <= kSlotCount; ++s) {
        if (s == n) continue;
        if (ctx.settings.slotOn[s - 1]) {
          ctx.settings.slotOn[s - 1] = false;
          state.settingsLocked = false;  // as a click that clears the box
          end.slotsSwitchedOff = true;
        }
        state.slotLocked[s - 1] = true;
        state.port[s - 1] = PortState::kSwitchedOff;
      }
      end.zeroAnswer = reply == "0";
      if (d.rt) {
        state.serialNumber = d.rtSerial;
        WriteSerialFile(ctx, d.rtSerial);
      } else {
        state.serialNumber = reply;
        if (d.mfSerial.empty()) d.mfSerial = reply;
        WriteSerialFile(ctx, reply);
      }
      // Only a failed dump's own error file goes: one left by a job is the
      // calling application's to read.
      const ReadResult errorFile =
          ctx.platform.fs.ReadRegularFile(JobFilePath(ctx, "SR_ERR", n), kSettingsReadLimit);
      if (errorFile.status == ReadStatus::kOk &&
          errorFile.bytes == std::string(kErrDumpGeneric) + "\r\n") {
        DeleteErrorFile(ctx);
      }
      state.ecrMessage = reply;
      state.dumpText[n - 1] = kDumpDone;
      LogSlotsTakingJobs(ctx, kOthersOffByDump);
    } else {
      // The job waiting on the slot ends with the dump error (no FINESCO);
      // without its error file its start file stays, answered later.
      if (WriteErrorFile(ctx, DumpErrorText(result), n).ok()) DeleteStartFile(ctx);
      CloseSerialPort(ctx);
      d.pending[n - 1] = true;
      state.dumpText[n - 1] = DumpFailedText(result);
    }
  }

  d.inProgress = false;
  return end;
}

void WriteSerialFile(AppContext& ctx, const std::string& serial) {
  const int slot = ctx.job.currentSlot;
  if (!ValidSlot(slot)) return;
  const std::string text = serial + "\r\n" + (ctx.settings.footerRt ? "Stato: RT" : "Stato: MF") +
                           "\r\nDriverType: ZizAdud\r\nVersione: " + VersionText() + "\r\nFW: \r\n";
  const Status written = WriteResultFile(ctx, JobFilePath(ctx, "SR_MATR", slot), text);
  if (!written.ok()) {
    ctx.platform.notifier.Log(written.Explain("Impossibile scrivere " + JobFileName("SR_MATR", slot)));
    AppendJobLog(ctx, written.Explain(RenameLogText(JobFilePath(ctx, "SR_MATR", slot))));
  }
}

}  // namespace kolibra
