#include "core/poll_timer.h"

namespace kolibra {

bool PollTimerEnabled(AppContext& ctx) {
  return ctx.cycle.pollTimer >= 0 && ctx.platform.loop.TimerEnabled(ctx.cycle.pollTimer);
}

int64_t PollTimerInterval(AppContext& ctx) {
  return ctx.cycle.pollTimer >= 0 ? ctx.platform.loop.TimerInterval(ctx.cycle.pollTimer) : 0;
}

}  // namespace kolibra
