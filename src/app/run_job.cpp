#include "app/run_job.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "conversion/convert.h"
#include "core/job_files.h"
#include "core/messages.h"
#include "core/operator_events.h"
#include "link/link_wait.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "link/trace.h"
#include "link/transmission.h"

namespace kolibra {
namespace {

std::string Digits(int value, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  return buf;
}

// Data directory/TRACE_YYYYMM/TRACE_YYYYMMDD_hhmmss.TXT; the data directory
// itself when the month folder cannot be made or something else (a link
// included) has its name.
std::string TracePath(AppContext& ctx) {
  const CivilTime t = ctx.platform.loop.LocalTime();
  const std::string month = Digits(t.year, 4) + Digits(t.month, 2);
  std::string folder = JoinPath(ctx.dataDir, "TRACE_" + month);
  FileSystem& fs = ctx.platform.fs;
  if (fs.Inspect(folder).kind == FileKind::kMissing) fs.MakeDirectory(folder);
  if (fs.Inspect(folder).kind != FileKind::kDirectory) folder = ctx.dataDir;
  const std::string name = "TRACE_" + month + Digits(t.day, 2) + "_" + Digits(t.hour, 2) +
                           Digits(t.minute, 2) + Digits(t.second, 2) + ".TXT";
  return JoinPath(folder, name);
}

// The command file's bytes, read only from a plain file and never through a
// link; a file that is gone, or is no plain file, is a missing command file.
struct CommandFile {
  std::optional<std::string> bytes;
  JobResult failure = JobResult::kOk;
};

CommandFile ReadCommandFile(AppContext& ctx) {
  ReadResult read = ctx.platform.fs.ReadRegularFile(ctx.job.commandPath, kMaxCommandFileSize);
  const std::string path = ShownPath(ctx, ctx.job.commandPath);
  switch (read.status) {
    case ReadStatus::kOk:
      return CommandFile{std::move(read.bytes), JobResult::kOk};
    case ReadStatus::kMissing:
    case ReadStatus::kNotRegular:
      ShowMessage(ctx, FileMissingText(path));
      return CommandFile{std::nullopt, JobResult::kCommandFileMissing};
    case ReadStatus::kTooLarge:
      ShowMessage(ctx, FileTooLargeText(path, kMaxCommandFileSize / (1024 * 1024)));
      break;
    case ReadStatus::kUnreadable:
      // Not a conversion error: the file's permissions keep the driver out
      // (a till user's umask 077).
      ShowMessage(ctx, FileUnreadableText(path));
      return CommandFile{std::nullopt, JobResult::kCommandFileUnreadable};
  }
  return CommandFile{std::nullopt, JobResult::kConversionRefused};
}

// The lines as stored, with their CR LF or LF ends removed.
std::vector<std::string> SplitStoredLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    const bool last = end == std::string::npos;
    if (last) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (last) break;
    start = end + 1;
  }
  return lines;
}

int16_t Convert(AppContext& ctx, const std::string& text, std::vector<std::string>& jobLines) {
  ConversionEnv env;
  env.settings.paymentsIndex = ctx.settings.paymentsIndex;
  env.settings.pag4Bancomat = ctx.settings.fourthPaymentCard;
  env.settings.rt = ctx.dump.rt;
  env.settings.rtSerial = ctx.dump.rtSerial;
  env.settings.tenderFamily = ctx.dump.tenderFamily;
  env.dataDir = JobFolderPath(ctx);
  env.fs = &ctx.platform.fs;
  env.notifier = &ctx.platform.notifier;
  if (TraceOn(ctx)) {
    env.trace = [&ctx](const std::string& line) {
      if (TraceOn(ctx)) TraceLine(ctx, line);
    };
  }
  // The conversion reports its refusals itself; what escapes it (the
  // standard library running out of memory, a fault) refuses the job the
  // same way, naming the line it was on.
  int16_t rc = 1;
  try {
    rc = ConvertCommandText(text, jobLines, env, ShownPath(ctx, ctx.job.commandPath));
  } catch (const std::bad_alloc&) {
    ShowMessage(ctx, ConversionErrorText("Out of memory", 7, env.step));
  } catch (const std::exception& e) {
    ShowMessage(ctx, ConversionErrorText(e.what(), 51, env.step));
  } catch (...) {
    ShowMessage(ctx, ConversionErrorText("Internal error", 51, env.step));
  }
  ctx.tenderLineCount = env.tenderLineCount;
  if (!env.refusal.empty()) ctx.platform.notifier.Log("Conversione rifiutata: " + env.refusal);
  return rc;
}

// The steps of a job, from the trace file to the sending; step names the
// one under way.
JobResult RunSteps(AppContext& ctx, bool testReceipt, const char*& step) {
  if (ctx.settings.trace) {
    step = "traccia";
    OpenTraceFile(ctx, TracePath(ctx));  // without a file the job runs untraced
  }

  if (!ctx.platform.fs.Exists(ctx.job.commandPath)) return JobResult::kCommandFileMissing;

  std::vector<std::string> jobLines;
  if (!testReceipt) {
    step = "conversione";
    const CommandFile file = ReadCommandFile(ctx);
    if (!file.bytes) return file.failure;
    if (!ctx.settings.passThrough) {
      if (Convert(ctx, *file.bytes, jobLines) == 1) return JobResult::kConversionRefused;
    } else {
      // The command file already holds ECR command lines.
      jobLines = SplitStoredLines(*file.bytes);
    }
  }

  const int16_t port = ctx.job.currentSlot;
  if (ctx.settings.linkMode == LinkMode::kSerial) {
    step = "impostazione porta seriale";
    if (!ConfigureSerialPort(ctx, port).ok()) return JobResult::kLinkSetupFailed;
  }
  if (ctx.settings.linkMode == LinkMode::kNetwork) {
    step = "connessione";
    if (!Reconnect(ctx, 10)) return JobResult::kLinkSetupFailed;
  }

  // A port that cannot be opened shows up as a failed send below. In
  // network mode no serial port is touched: it may belong to another program.
  step = "apertura porta";
  if (!NetworkMode(ctx)) OpenConfiguredPort(ctx, port);

  step = "azzeramento";
  JobResult result = JobResult::kOk;
  if (!SendCommand(ctx, ctx.job.resetCommand)) {
    result = JobResult::kNoAnswer;
  } else {
    if (testReceipt) {
      const CommandFile file = ReadCommandFile(ctx);
      if (!file.bytes) return file.failure;
      // Read after the reset: a command file written over the test receipt's
      // meanwhile is the calling application's, never sent unconverted.
      const std::string& identity = ctx.job.commandIdentity;
      if (!identity.empty() && ctx.platform.fs.Inspect(ctx.job.commandPath).identity != identity) {
        ctx.platform.notifier.Log("Scontrino di prova sostituito durante l'azzeramento: non inviato");
        return JobResult::kCommandFileMissing;
      }
      jobLines = SplitStoredLines(*file.bytes);
    }
    ctx.link.outputPath = JobFilePath(ctx, "SR_OUT", port);
    step = "invio";
    if (!SendJobLines(ctx, jobLines)) {
      Pause(ctx, 2000);
      // Once a payment line may have reached the ECR the receipt may be printed.
      result = ctx.link.receiptMayBeClosed ? JobResult::kOutcomeUncertain : JobResult::kNoAnswer;
    }
  }

  if (result == JobResult::kNoAnswer) TraceLine(ctx, " <- TIMEOUT SCADUTO");
  if (result == JobResult::kOutcomeUncertain) TraceLine(ctx, " <- ESITO INCERTO");
  return result;
}

}  // namespace

JobResult RunJob(AppContext& ctx) {
  const bool testReceipt = ctx.job.testReceipt != 0;

  // The steps report their failures as results. Whatever else escapes them
  // (the standard library running out of memory) ends the job here, logged,
  // as a job the ECR did not answer, or as uncertain once a payment line may
  // have reached it.
  JobResult result = JobResult::kNoAnswer;
  const char* step = "avvio";
  ctx.link.receiptMayBeClosed = false;
  ctx.link.outputUnplaced = false;
  ctx.link.outputBytes.clear();
  try {
    result = RunSteps(ctx, testReceipt, step);
  } catch (const std::exception& e) {
    ctx.platform.notifier.Log(std::string("Lavoro interrotto durante ") + step + ": " + e.what());
  } catch (...) {
    ctx.platform.notifier.Log(std::string("Lavoro interrotto durante ") + step + ": errore sconosciuto");
  }
  if (result == JobResult::kNoAnswer && ctx.link.receiptMayBeClosed) result = JobResult::kOutcomeUncertain;

  // Every way out: the serial port, the trace and output files closed, a
  // test receipt used up. The trace file is closed even when tracing was
  // switched off during the run, so that no handle is left for a later job to
  // write into; a port found open before the set-up (which then refuses to
  // re-target it) is closed too, so that the next job can set it up again.
  if (ctx.platform.serial.IsOpen()) ctx.platform.serial.Close();
  CloseTraceFile(ctx);
  // Still open only when the sending was cut short: put in place all the same.
  CloseResultFile(ctx, ctx.link.output, ctx.link.outputPath);
  if (testReceipt) ctx.job.testReceipt = 0;
  return result;
}

}  // namespace kolibra
