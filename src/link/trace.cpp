#include "link/trace.h"

#include <cstdio>

namespace kolibra {

std::string TraceTimeStamp(const CivilTime& utc) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d_%02d%02d%02d.%03d <--> ", utc.year, utc.month, utc.day,
                utc.hour, utc.minute, utc.second, utc.millisecond);
  return buf;
}

std::string TraceTimeStamp(const AppContext& ctx) { return TraceTimeStamp(ctx.platform.loop.UtcTime()); }

bool TraceOn(const AppContext& ctx) { return ctx.settings.trace && ctx.link.trace.IsOpen(); }

namespace {
void WriteLine(AppContext& ctx, const std::string& line) {
  OwnedFile& f = ctx.link.trace;
  f.Write(line);
  f.Write("\r\n");
  f.Flush();  // a trace must survive a crash of the job
}
}  // namespace

void TraceLine(AppContext& ctx, const std::string& text) {
  if (!TraceOn(ctx)) return;
  WriteLine(ctx, TraceTimeStamp(ctx) + text);
}

bool OpenTraceFile(AppContext& ctx, const std::string& path) {
  // A new file, so that nothing planted under its name is written through;
  // the one held before is closed first (the same path may come again).
  ctx.link.trace.Close();
  const StatusOr<std::FILE*> created = ctx.platform.fs.CreateFresh(path);
  if (!created.ok()) ctx.platform.notifier.Log(created.status().Explain("Impossibile scrivere " + path));
  ctx.link.trace.Adopt(created.value());
  return created.ok();
}

void CloseTraceFile(AppContext& ctx) { ctx.link.trace.Close(); }

}  // namespace kolibra
