#include "core/poll_timer.h"

#include <utility>

namespace kolibra {

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

}  // namespace kolibra
