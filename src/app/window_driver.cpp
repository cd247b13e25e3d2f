#include "app/window_driver.h"

#include "app/job_cycle.h"
#include "platform/window_notifier.h"
#include "ui/window_binding.h"

namespace kolibra {

int RunWindowedDriver(Platform& platform, WindowHost& host, const DriverOptions& options,
                      ControlChannel* control) {
  // Message boxes and the tray icon go to the window; log lines stay.
  WindowNotifier notifier(platform.notifier, host);
  Platform windowed{platform.loop, platform.serial, platform.socket, notifier,
                    platform.fs, platform.system, platform.folderWatch, &host};
  AppContext ctx(windowed);
  WindowBinding binding(ctx, host,
                        {[&ctx] { RequestShutdown(ctx); }});
  binding.Attach();

  EventLoop& loop = platform.loop;
  DriverHooks hooks;
  // The splash is read before start-up, which then runs under it; polling
  // starts only after it.
  hooks.startupBegins = [&] {
    binding.ShowSplash();
    const int64_t until = loop.NowMs() + kSplashLeastMs;
    do {
      loop.Wait(until);
    } while (loop.NowMs() < until);
  };
  hooks.startupEnded = [&] { binding.CloseSplash(); };
  hooks.shutdownBegins = [&] { binding.ShowClosing(); };
  hooks.shutdownEnded = [&] { binding.CloseClosing(); };

  DriverOptions windowOptions = options;
  windowOptions.headless = false;
  return RunDriver(ctx, windowOptions, control, hooks);
}

}  // namespace kolibra
