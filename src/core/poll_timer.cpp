#include "core/poll_timer.h"

#include <cmath>
#include <utility>

#include "conversion/numbers.h"
#include "core/file_util.h"

namespace kolibra {

namespace {

constexpr int32_t kDefaultIntervalMs = 1000;
constexpr int32_t kShortestIntervalMs = 100;
constexpr int32_t kLongestIntervalMs = 60000;

int32_t RoundInterval(double ms) {
  if (ms >= kLongestIntervalMs) return kLongestIntervalMs;
  const auto rounded = static_cast<int32_t>(std::lround(ms));
  // A fraction of a second small enough to round below 100 ms would make the
  // timer spin; the shortest interval is 100 ms.
  return rounded < kShortestIntervalMs ? kShortestIntervalMs : rounded;
}

}  // namespace

void CreatePollTimer(AppContext& ctx, std::function<void()> onTick) {
  if (ctx.cycle.pollTimer >= 0) return;
  ctx.cycle.pollTimer = ctx.platform.loop.CreateTimer(std::move(onTick));
}

void ArmPollTimer(AppContext& ctx, int64_t intervalMs, bool enabled) {
  if (ctx.cycle.pollTimer < 0) return;
  ctx.platform.loop.SetTimer(ctx.cycle.pollTimer, intervalMs, enabled);
}

void EnablePollTimer(AppContext& ctx, bool enabled) {
  ArmPollTimer(ctx, PollTimerInterval(ctx), enabled);
}

bool PollTimerEnabled(AppContext& ctx) {
  return ctx.cycle.pollTimer >= 0 && ctx.platform.loop.TimerEnabled(ctx.cycle.pollTimer);
}

int64_t PollTimerInterval(AppContext& ctx) {
  return ctx.cycle.pollTimer >= 0 ? ctx.platform.loop.TimerInterval(ctx.cycle.pollTimer) : 0;
}

// The polling interval as typed or stored: blanks, then digits with an
// optional point; whatever follows ("ms") is not part of it.
constexpr NumberForm kIntervalNumber{" \t", false, true, ""};

std::string PollingFileText(int32_t intervalMs) {
  if (intervalMs < 1000) return std::to_string(intervalMs);
  return FormatDecimal(intervalMs / 1000.0);
}

void SetPollingValue(AppContext& ctx, const std::string& value, bool save) {
  std::string written;
  const double v = LeadingNumber(value, kIntervalNumber, &written);
  int32_t interval = kDefaultIntervalMs;
  if (value.empty() || v <= 0) {
    interval = kDefaultIntervalMs;
  } else if (v < 100) {
    ctx.settings.pollingValue = v <= 60 ? value : "60";
    interval = RoundInterval(1000.0 * LeadingNumber(ctx.settings.pollingValue, kIntervalNumber));
  } else if (v <= kLongestIntervalMs) {
    ctx.settings.pollingValue = written + "ms";
    interval = RoundInterval(v);
  } else {
    ctx.settings.pollingValue = "60";
    interval = kLongestIntervalMs;
  }
  ctx.cycle.pollingIntervalMs = interval;
  if (save) {
    const std::string path = JoinPath(ctx.settingsDir, "KBTIMER1.TXT");
    if (!WriteWholeFile(path, PollingFileText(interval) + "\r\n")) {
      ctx.platform.notifier.Log("Impossibile scrivere " + path);
    }
  }
}

double PollingNumber(const std::string& value) { return LeadingNumber(value, kIntervalNumber); }

}  // namespace kolibra
