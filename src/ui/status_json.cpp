#include "ui/status_json.h"

#include <cstdio>

#include "core/poll_timer.h"
#include "core/version.h"
#include "platform/file_system.h"

namespace kolibra {

namespace {

// Unicode of the bytes 0x80-0x9F in Windows-1252; the five it leaves
// undefined keep their own value, as Windows maps them.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const char* Bool(bool b) { return b ? "true" : "false"; }

std::string PortColour(PortState port) {
  if (port == PortState::kAvailable) return "\"green\"";
  if (port == PortState::kSwitchedOff) return "\"red\"";
  return "null";
}

std::string Time(const CivilTime& t) {
  char text[40];
  std::snprintf(text, sizeof text, "\"%04d-%02d-%02dT%02d:%02d:%02d\"", t.year % 10000, t.month % 100,
                t.day % 100, t.hour % 100, t.minute % 100, t.second % 100);
  return text;
}

// "key":value, with the comma that separates it from the one before.
class Members {
 public:
  Members& Add(const char* key, const std::string& value) {
    text_ += text_.empty() ? "{" : ",";
    text_ += JsonString(key) + ":" + value;
    return *this;
  }
  Members& Add(const char* key, int64_t value) { return Add(key, std::to_string(value)); }
  std::string Done() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  std::string text_;
};

std::string Slot(AppContext& ctx, int n) {
  const DumpState& d = ctx.dump;
  const bool done = !d.pending[n - 1];
  const bool running = d.inProgress && ctx.job.currentSlot == n;
  // One ECR per driver: its identity belongs to the slot whose dump read it.
  std::string ecr = "null";
  const std::string& serial = d.rt ? d.rtSerial : d.mfSerial;
  if (done && !serial.empty()) {
    ecr = Members().Add("serialNumber", JsonString(serial)).Add("mode", d.rt ? "\"RT\"" : "\"MF\"").Done();
  }
  return Members()
      .Add("port", n)
      .Add("ticked", Bool(ctx.settings.slotOn[n - 1]))
      .Add("boxEnabled", Bool(!ctx.state.slotLocked[n - 1]))
      .Add("portState", PortColour(ctx.state.port[n - 1]))
      .Add("dump", JsonString(running ? "running" : done ? "done" : "pending"))
      .Add("dumpText", JsonString(ctx.state.dumpText[n - 1]))
      .Add("ecr", ecr)
      .Done();
}

std::string Connection(AppContext& ctx) {
  const DriverSettings& settings = ctx.settings;
  const char* mode = settings.linkMode == LinkMode::kNetwork   ? "\"network\""
                     : settings.linkMode == LinkMode::kSerial ? "\"serial\""
                                                            : "null";
  return Members()
      .Add("state", ctx.state.connection == ConnectionState::kOpen ? "\"green\"" : "\"red\"")
      .Add("mode", mode)
      .Add("address", JsonString(settings.address))
      .Add("speed", JsonString(settings.speedText))
      .Done();
}

std::string Jobs(AppContext& ctx) {
  const JobCycleState& c = ctx.cycle;
  std::string running = "null";
  if (c.jobBusy) {
    running = Members()
                  .Add("port", ctx.job.currentSlot)
                  .Add("startedAt", Time(c.jobStartedAt))
                  .Add("linesSent", ctx.job.jobLinesSent)
                  .Done();
  }
  std::string last = "null";
  if (c.lastJob.any) {
    last = Members()
               .Add("port", c.lastJob.slot)
               .Add("code", static_cast<int>(c.lastJob.code))
               .Add("outcome", JsonString(c.lastJob.code == JobResult::kOk                   ? "printed"
                                          : c.lastJob.code == JobResult::kOutcomeUncertain ? "uncertain"
                                                                                            : "failed"))
               .Add("endedAt", Time(c.lastJob.endedAt))
               .Done();
  }
  Members failed;
  for (const auto& [code, count] : c.counts.failedByCode) failed.Add(std::to_string(code).c_str(), count);
  int64_t failedTotal = 0;
  for (const auto& entry : c.counts.failedByCode) failedTotal += entry.second;
  const std::string counts = Members()
                                 .Add("jobs", c.counts.jobs)
                                 .Add("printed", c.counts.printed)
                                 .Add("failed", failedTotal)
                                 .Add("failedByCode", failed.Done())
                                 .Add("uncertain", c.counts.uncertain)
                                 .Done();
  return Members().Add("running", running).Add("last", last).Add("sinceStart", counts).Done();
}

}  // namespace

std::string JsonString(std::string_view cp1252) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : cp1252) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '"' || b == '\\') {
      out += '\\';
      out += c;
    } else if (b >= 0x20 && b < 0x7F) {
      out += c;
    } else {
      const unsigned u = b >= 0x80 && b < 0xA0 ? kHighControls[b - 0x80] : b;
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(u >> shift) & 15];
    }
  }
  return out + "\"";
}

std::string JsonPathString(const std::string& path) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string utf8 = PathAsUtf8(path);
  std::string out = "\"";
  const auto escape = [&](unsigned u) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(u >> shift) & 15];
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    // The sequence's length and the bits its lead byte holds.
    const std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > utf8.size()) return JsonString(path);
    unsigned u = n == 1 ? b : b & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
      const auto c = static_cast<unsigned char>(utf8[i + k]);
      if ((c & 0xC0) != 0x80) return JsonString(path);
      u = (u << 6) | (c & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are no UTF-8.
    static constexpr unsigned kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (u < kLeast[n] || (u >= 0xD800 && u < 0xE000) || u > 0x10FFFF) return JsonString(path);
    i += n;
    if (u == '"' || u == '\\') {
      out += '\\';
      out += static_cast<char>(u);
    } else if (u >= 0x20 && u < 0x7F) {
      out += static_cast<char>(u);
    } else if (u < 0x10000) {
      escape(u);
    } else {
      escape(0xD800 + ((u - 0x10000) >> 10));
      escape(0xDC00 + ((u - 0x10000) & 0x3FF));
    }
  }
  return out + "\"";
}

std::string StatusJson(AppContext& ctx) {
  std::string slots = "[";
  for (int n = 1; n <= kSlotCount; ++n) slots += (n > 1 ? "," : "") + Slot(ctx, n);
  slots += "]";
  const DriverSettings& settings = ctx.settings;
  const std::string polling = Members()
                                  .Add("active", Bool(PollTimerEnabled(ctx)))
                                  .Add("value", JsonString(settings.pollingValue))
                                  .Add("intervalMs", ctx.cycle.pollingIntervalMs)
                                  .Done();
  return Members()
             .Add("version", JsonString(VersionText()))
             .Add("dataDir", JsonPathString(ctx.dataDir))
             .Add("slots", slots)
             .Add("connection", Connection(ctx))
             .Add("polling", polling)
             .Add("status", JsonString(ctx.state.status))
             .Add("ecrMessage", JsonString(ctx.state.ecrMessage))
             .Add("jobs", Jobs(ctx))
             .Add("closing", Bool(ctx.cycle.shutdownRequested || ctx.cycle.closing || ctx.cycle.ended))
             .Done() +
         "\n";
}

}  // namespace kolibra
