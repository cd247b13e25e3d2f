// Trace lines of a job or dump: every line begins with a UTC time stamp.
#pragma once

#include <string>

#include "core/app_context.h"

namespace kolibra {

// "YYYYMMDD_hhmmss.mmm <--> " from a UTC time.
std::string TraceTimeStamp(const CivilTime& utc);
std::string TraceTimeStamp(const AppContext& ctx);

// Tracing is on when the trace setting ("Abilita Trace") is on and a trace file is open.
bool TraceOn(const AppContext& ctx);
// Writes time stamp + text + CR LF when tracing is on.
void TraceLine(AppContext& ctx, const std::string& text);

// Opens the trace file as a new file (CreateFresh); false when it cannot.
bool OpenTraceFile(AppContext& ctx, const std::string& path);
void CloseTraceFile(AppContext& ctx);

}  // namespace kolibra
