#include "app/startup.h"

#include "app/data_dir.h"
#include "app/job_cycle.h"
#include "core/poll_timer.h"
#include "core/job_files.h"
#include "app/settings.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "link/transmission.h"
#include "core/messages.h"
#include "core/operator_events.h"
#include "ui/operator_window.h"

namespace kolibra {

namespace {

constexpr int kEcrTcpPort = 8000;
constexpr int64_t kGiveUpPeriodMs = 100;
constexpr int64_t kMainLoopIdleMs = 3'600'000;

const char* const kStartupFiles[] = {"SR_START", "SR_MATR", "SR_ERR", "SR_DATI", "SR_OUT", "FINESCO"};
const char* const kShutdownFiles[] = {"SR_MATR", "SR_START", "SR_ERR", "SR_OUT", "FINESCO"};

// Lets events run for ms milliseconds.
void WaitWithEvents(AppContext& ctx, int64_t ms) {
  EventLoop& loop = ctx.platform.loop;
  const int64_t deadline = loop.NowMs() + ms;
  while (loop.NowMs() < deadline) loop.Wait(deadline);
}

void ResetStartupValues(AppContext& ctx) {
  ctx.cycle.resetCommand = " K";
  ctx.link.trace.Close();
  ctx.cycle.jobBusy = false;
  ctx.dump.inProgress = false;
  ctx.ui.windowShown = false;
  ctx.cycle.testReceipt = 0;
  ctx.cycle.pauseMarker = 0;
  ctx.cycle.tickCounter = 0;
  ctx.dump.pending.fill(true);
}

bool UseGivenDataDirectory(AppContext& ctx, const std::string& dir) {
  ctx.dataDir = DropTrailingSeparator(dir);
  if (!ctx.platform.fs.IsDirectory(ctx.dataDir)) {
    ShowMessage(ctx, ctx.dataDir + kDirMissingSuffix);
    return false;
  }
  ctx.defaultDataDir = ctx.dataDir;
  ctx.ui.dataDirText = ctx.dataDir;
  ctx.ui.dataDirVisible = true;
  return true;
}

void ProbePorts(AppContext& ctx) {
  for (int16_t n = 1; n <= kSlotCount; ++n) {
    const bool available = !ctx.ui.optionRs232 || PrepareLink(ctx, n);
    ctx.cycle.portAvailable[n - 1] = available;
    if (!available) {
      ctx.ui.slotCheck[n - 1].value = 0;
      ctx.ui.slotCheck[n - 1].enabled = false;
      ctx.platform.notifier.Log("Porta COM" + std::to_string(n) + " non disponibile");
    }
  }
}

void ClearStaleJobFiles(AppContext& ctx) {
  for (int n = 1; n <= kSlotCount; ++n) {
    if (!ctx.cycle.portAvailable[n - 1]) continue;
    for (const char* base : kStartupFiles) DeleteIfPresent(ctx, JobFileName(base, n));
    ctx.ui.slotShape[n - 1] = kColourGreen;
  }
}

void StartNetworkConnection(AppContext& ctx) {
  if (!ctx.ui.optionRete || ctx.ui.remoteIp.empty()) return;
  if (!IsValidIpAddress(ctx.ui.remoteIp)) return;
  TcpSocket& socket = ctx.platform.socket;
  socket.SetRemoteHost(ctx.ui.remoteIp);
  socket.SetRemotePort(ctx.link.remotePort);
  socket.Connect();
}

// While closing with a job or dump on the link, every wait for the ECR is
// ended at once so that the run winds down through its normal failure path.
void CreateGiveUpTimer(AppContext& ctx) {
  if (ctx.cycle.giveUpTimer >= 0) return;
  ctx.cycle.giveUpTimer = ctx.platform.loop.CreateTimer([&ctx] {
    if (ctx.cycle.closing && (ctx.cycle.jobBusy || ctx.dump.inProgress)) {
      ctx.link.timeoutFlag = true;
    } else {
      ctx.platform.loop.SetTimer(ctx.cycle.giveUpTimer, kGiveUpPeriodMs, false);
    }
  });
}

}  // namespace

bool StartDriver(AppContext& ctx, const DriverOptions& options) {
  ctx.cycle.pollingIntervalMs = 1000;
  if (!ConverterSelfTest(ctx)) return false;
  ctx.link.trace.Close();

  const std::string settingsDir = ctx.settingsDir;
  if (options.dataDir.empty()) {
    if (!SelectDataDirectory(ctx)) return false;
  } else if (!UseGivenDataDirectory(ctx, options.dataDir)) {
    return false;
  }
  if (!settingsDir.empty()) ctx.settingsDir = settingsDir;
  if (ctx.settingsDir.empty()) ctx.settingsDir = ctx.platform.system.ProgramFolder();
  if (options.ecrPort > 0) ctx.link.remotePort = options.ecrPort;
  if (ctx.link.remotePort <= 0) ctx.link.remotePort = kEcrTcpPort;

  ResetStartupValues(ctx);
  ReadSlotSettings(ctx);
  ReadTimerSettings(ctx);
  ReadBaudSettings(ctx);
  ReadProgramSettings(ctx);

  InitLink(ctx);
  ProbePorts(ctx);
  ClearStaleJobFiles(ctx);
  ctx.dump.inProgress = false;
  ctx.cycle.tickCounter = 0;

  AddTrayIcon(ctx);
  StartNetworkConnection(ctx);

  CreateGiveUpTimer(ctx);
  InstallPollTimer(ctx);
  ArmPollTimer(ctx, ctx.cycle.pollingIntervalMs, true);
  ctx.platform.notifier.Log("Kolibra " + VersionText() + " avviato, cartella dati " + ctx.dataDir);
  return true;
}

void RequestShutdown(AppContext& ctx) {
  JobCycleState& cycle = ctx.cycle;
  if (cycle.ended) return;
  if (cycle.shutdownRequested) {
    ctx.platform.notifier.Log("Chiusura gia' in corso");
    return;
  }
  cycle.shutdownRequested = true;
  cycle.closing = true;
  EnablePollTimer(ctx, false);
  if (cycle.jobBusy || ctx.dump.inProgress) {
    cycle.closedWhileBusy = true;
    ctx.link.timeoutFlag = true;
    if (cycle.giveUpTimer >= 0) {
      ctx.platform.loop.SetTimer(cycle.giveUpTimer, kGiveUpPeriodMs, true);
    }
    ctx.platform.notifier.Log("Chiusura richiesta: attesa della fine del lavoro in corso");
  }
  // Wakes the main loop, which runs the shutdown once nothing is running.
  ctx.platform.loop.Post([] {});
}

void ShutDown(AppContext& ctx) {
  JobCycleState& cycle = ctx.cycle;
  cycle.closing = true;
  EnablePollTimer(ctx, false);
  RemoveTrayIcon(ctx);
  ctx.ui.windowShown = false;
  ctx.platform.notifier.Log(" Chiusura programma Kolibra in corso ...");
  WaitWithEvents(ctx, 1000);

  if (cycle.jobBusy || ctx.dump.inProgress || cycle.closedWhileBusy) {
    // A job or dump was on the link: its files stay as its own end left them.
    if (cycle.jobBusy || ctx.dump.inProgress) {
      ctx.link.timeoutFlag = true;
      WaitWithEvents(ctx, 2000);
    }
    SaveSettings(ctx);
  } else {
    for (int16_t n = 1; n <= kSlotCount; ++n) {
      if (!cycle.portAvailable[n - 1]) continue;
      cycle.currentSlot = n;
      for (const char* base : kShutdownFiles) DeleteIfPresent(ctx, JobFileName(base, n));
    }
    SaveSettings(ctx);
  }
  CloseSerialPort(ctx);
  ctx.platform.socket.Close();
  if (cycle.giveUpTimer >= 0) ctx.platform.loop.SetTimer(cycle.giveUpTimer, kGiveUpPeriodMs, false);
  cycle.ended = true;
  ctx.platform.notifier.Log("Kolibra terminato");
}

void RunMainLoop(AppContext& ctx) {
  EventLoop& loop = ctx.platform.loop;
  while (!ctx.cycle.ended) {
    loop.Wait(loop.NowMs() + kMainLoopIdleMs);
    if (ctx.cycle.shutdownRequested && !ctx.cycle.jobBusy && !ctx.dump.inProgress) {
      ShutDown(ctx);
    }
  }
}

int RunDriver(AppContext& ctx, const DriverOptions& options) {
  std::string settingsDir = options.settingsDir.empty() ? ctx.platform.system.ProgramFolder()
                                                        : DropTrailingSeparator(options.settingsDir);
  if (!ctx.platform.fs.IsDirectory(settingsDir)) {
    ShowMessage(ctx, settingsDir + kDirMissingSuffix);
    return kExitStartupFailed;
  }
  // A second copy on the same settings folder ends at once, without a word.
  if (!ctx.platform.system.AcquireSingleInstance(settingsDir)) return kExitAnotherCopy;
  ctx.settingsDir = settingsDir;
  ctx.platform.loop.SetTerminateHandler([&ctx] { RequestShutdown(ctx); });
  if (!StartDriver(ctx, options)) return kExitStartupFailed;
  // Headless, the log is the window: it is open from the start.
  if (options.headless) RestoreWindow(ctx);
  RunMainLoop(ctx);
  return kExitOk;
}

}  // namespace kolibra
