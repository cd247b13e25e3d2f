#include "app/run_job.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/job_files.h"
#include "conversion/convert.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "link/trace.h"
#include "link/transmission.h"

namespace kolibra {
namespace {

// Runs one step of the job; an unexpected failure inside it is logged and
// the job goes on with the next step, as if the step had done nothing.
template <typename F>
void Step(AppContext& ctx, const char* what, F&& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    ctx.platform.notifier.Log(std::string("RunJob: ") + what + ": " + e.what());
  } catch (...) {
    ctx.platform.notifier.Log(std::string("RunJob: ") + what + ": errore sconosciuto");
  }
}

std::string Digits(int value, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  return buf;
}

// Data directory/TRACE_YYYYMM/TRACE_YYYYMMDD_hhmmss.TXT; the data directory
// itself when the month folder cannot be made.
std::string TracePath(AppContext& ctx) {
  const CivilTime t = ctx.platform.loop.LocalTime();
  const std::string month = Digits(t.year, 4) + Digits(t.month, 2);
  std::string folder = JoinPath(ctx.dataDir, "TRACE_" + month);
  FileSystem& fs = ctx.platform.fs;
  if (!fs.IsDirectory(folder)) fs.MakeDirectory(folder);
  if (!fs.IsDirectory(folder)) folder = ctx.dataDir;
  const std::string name = "TRACE_" + month + Digits(t.day, 2) + "_" + Digits(t.hour, 2) +
                           Digits(t.minute, 2) + Digits(t.second, 2) + ".TXT";
  return JoinPath(folder, name);
}

// The file's lines as stored, with their CR LF or LF ends removed.
std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  if (!in) return lines;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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

int16_t Convert(AppContext& ctx, std::vector<std::string>& jobLines) {
  ConversionEnv env;
  env.settings.paymentsIndex = ctx.ui.paymentsIndex;
  env.settings.pag4Bancomat = ctx.ui.pag4Bancomat.value == 1;
  env.settings.rt = ctx.dump.rt;
  env.settings.rtSerial = ctx.dump.rtSerial;
  env.settings.tenderFamily = ctx.dump.tenderFamily;
  env.dataDir = ctx.dataDir;
  env.notifier = &ctx.platform.notifier;
  if (TraceOn(ctx)) {
    env.trace = [&ctx](const std::string& line) {
      if (TraceOn(ctx)) TraceLine(ctx, line);
    };
  }
  const int16_t rc = ConvertCommandFile(ctx.cycle.commandPath, jobLines, env);
  ctx.tenderLineCount = env.tenderLineCount;
  if (!env.refusal.empty()) ctx.platform.notifier.Log("Conversione rifiutata: " + env.refusal);
  return rc;
}

}  // namespace

JobResult RunJob(AppContext& ctx) {
  JobResult result = JobResult::kOk;
  const bool testReceipt = ctx.cycle.testReceipt != 0;

  // Every way out: the serial port and the trace file closed, a test
  // receipt used up. The trace file is closed even when the trace box was cleared
  // during the run, so that no handle is left for a later job to write into;
  // a port found open before the set-up (which then refuses to re-target it)
  // is closed too, so that the next job can set it up again.
  auto finish = [&ctx, testReceipt](JobResult code) {
    Step(ctx, "close port", [&] {
      if (ctx.platform.serial.IsOpen()) ctx.platform.serial.Close();
    });
    CloseTraceFile(ctx);
    if (testReceipt) ctx.cycle.testReceipt = 0;
    return code;
  };

  if (ctx.ui.trace.value == 1) {
    Step(ctx, "trace", [&] {
      OpenTraceFile(ctx, TracePath(ctx));  // without a file the job runs untraced
    });
  }

  if (!ctx.platform.fs.Exists(ctx.cycle.commandPath)) return finish(JobResult::kCommandFileMissing);

  std::vector<std::string> jobLines;
  int16_t converted = 0;
  if (!testReceipt) {
    Step(ctx, "conversion", [&] {
      if (ctx.ui.passThrough.value == 0) {
        converted = Convert(ctx, jobLines);
      } else {
        // The command file already holds ECR command lines.
        jobLines = ReadLines(ctx.cycle.commandPath);
      }
    });
  }
  if (converted == 1) return finish(JobResult::kConversionRefused);

  const int16_t port = ctx.cycle.currentSlot;
  if (ctx.ui.serialChosen) {
    bool ok = false;
    Step(ctx, "serial set-up", [&] { ok = ConfigureSerialPort(ctx, port); });
    if (!ok) return finish(JobResult::kLinkSetupFailed);
  }
  if (ctx.ui.networkChosen) {
    bool ok = false;
    Step(ctx, "connection", [&] { ok = Reconnect(ctx, 10); });
    if (!ok) return finish(JobResult::kLinkSetupFailed);
  }

  // A port that cannot be opened shows up as a failed send below.
  Step(ctx, "open port", [&] {
    if (!ctx.platform.serial.IsOpen()) ctx.platform.serial.Open();
  });

  bool reset = false;
  Step(ctx, "reset", [&] { reset = SendCommand(ctx, ctx.cycle.resetCommand); });
  if (!reset) {
    result = JobResult::kNoAnswer;
  } else {
    if (testReceipt) jobLines = ReadLines(ctx.cycle.commandPath);
    ctx.link.outputPath = JobFilePath(ctx, "SR_OUT", port);
    bool sent = false;
    Step(ctx, "send", [&] { sent = SendJobLines(ctx, jobLines); });
    if (sent) {
      result = JobResult::kOk;
    } else {
      Step(ctx, "pause", [&] { Pause(ctx, 2000); });
      result = JobResult::kNoAnswer;
    }
  }

  if (result == JobResult::kNoAnswer) TraceLine(ctx, " <- TIMEOUT SCADUTO");
  return finish(result);
}

}  // namespace kolibra
