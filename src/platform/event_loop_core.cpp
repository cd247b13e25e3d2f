#include "platform/event_loop_core.h"

#include <climits>
#include <utility>

namespace kolibra {

void EventLoopCore::Defer(std::function<void()> fn) {
  // Posted as if from the deepest Wait: every Wait may run it.
  deferred_.Post(std::move(fn), INT_MAX);
}

int EventLoopCore::Deliver() {
  // The timers read the clock only once the deferred calls have run, which
  // may take time.
  int delivered = RunDeferred();
  delivered += RunDueTimers();
  delivered += RunPosted();
  return delivered;
}

}  // namespace kolibra
