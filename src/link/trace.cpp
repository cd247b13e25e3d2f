#include "link/trace.h"

#include <cstdio>

namespace kolibra {

std::string TraceTimeStamp(const CivilTime& utc) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d_%02d%02d%02d.%03d <--> ", utc.year, utc.month, utc.day,
                utc.hour, utc.minute, utc.second, utc.millisecond);
  return buf;
}

std::string TraceTimeStamp(AppContext& ctx) { return TraceTimeStamp(ctx.platform.loop.UtcTime()); }

bool TraceOn(const AppContext& ctx) { return ctx.ui.trace.value == 1 && ctx.link.trace.file != nullptr; }

namespace {
void WriteLine(AppContext& ctx, const std::string& line) {
  std::FILE* f = ctx.link.trace.file;
  std::fwrite(line.data(), 1, line.size(), f);
  std::fwrite("\r\n", 1, 2, f);
  std::fflush(f);  // a trace must survive a crash of the job
}
}  // namespace

void TraceLine(AppContext& ctx, const std::string& text) {
  if (!TraceOn(ctx)) return;
  WriteLine(ctx, TraceTimeStamp(ctx) + text);
}

void TraceRaw(AppContext& ctx, const std::string& text) {
  if (!TraceOn(ctx)) return;
  WriteLine(ctx, text);
}

bool OpenTraceFile(AppContext& ctx, const std::string& path) {
  CloseTraceFile(ctx);
  ctx.link.trace.file = std::fopen(path.c_str(), "wb");
  return ctx.link.trace.file != nullptr;
}

void CloseTraceFile(AppContext& ctx) {
  if (ctx.link.trace.file != nullptr) {
    std::fclose(ctx.link.trace.file);
    ctx.link.trace.file = nullptr;
  }
}

}  // namespace kolibra
