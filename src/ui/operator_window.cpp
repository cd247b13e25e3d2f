#include "ui/operator_window.h"

#include <algorithm>
#include <cstdint>

#include "conversion/numbers.h"
#include "core/job_files.h"
#include "core/messages.h"
#include "core/operator_events.h"
#include "core/settings_file.h"
#include "ui/window_facts.h"

namespace kolibra {

namespace {

// The baud box is read as the digits after any leading spaces, up to INT32_MAX.
constexpr NumberForm kBaudDigits{" ", false, false, ""};

int32_t BaudBoxValue(const std::string& text) {
  return static_cast<int32_t>(std::min<double>(LeadingNumber(text, kBaudDigits), INT32_MAX));
}

constexpr int kTrayDoubleClick = 515;
constexpr int kTrayRightDown = 516;
constexpr int kTrayRightUp = 517;

}  // namespace

WindowFacts& Window(AppContext& ctx) {
  if (!ctx.window) ctx.window = std::make_shared<WindowFacts>();
  return *ctx.window;
}

const WindowFacts& Window(const AppContext& ctx) {
  static const WindowFacts kUnused;
  return ctx.window ? *ctx.window : kUnused;
}

OperatorView DeriveView(const AppContext& ctx) {
  const DriverSettings& settings = ctx.settings;
  const DriverState& state = ctx.state;
  const WindowFacts& window = Window(ctx);
  OperatorView v;
  for (int i = 0; i < kSlotCount; ++i) {
    v.slotTicked[i] = settings.slotOn[i];
    v.slotBoxEnabled[i] = !state.slotLocked[i];
    v.slotColour[i] = state.port[i] == PortState::kAvailable     ? kColourGreen
                      : state.port[i] == PortState::kSwitchedOff ? kColourRed
                                                                 : 0;
    v.dumpText[i] = state.dumpText[i];
  }
  v.ecrMessage = state.ecrMessage;
  v.status = state.status;
  if (window.blinkShown) v.timerState = *window.blinkShown ? kTimerTick : kTimerTock;
  v.serialNumber = state.serialNumber;
  v.tickCounterText = std::to_string(ctx.cycle.tickCounter);
  v.pollingValue = settings.pollingValue;
  v.speedText = settings.speedText;
  v.paymentsIndex = settings.paymentsIndex;
  v.serialChosen = settings.linkMode == LinkMode::kSerial;
  v.networkChosen = settings.linkMode == LinkMode::kNetwork;
  v.address = settings.address;
  v.connectionColour = state.connection == ConnectionState::kOpen ? kColourGreen : kColourRed;
  v.resetClosing = state.resetClosing;
  v.trace = settings.trace;
  v.footerRt = settings.footerRt;
  v.passThrough = settings.passThrough;
  v.fourthPaymentCard = settings.fourthPaymentCard;
  v.testButtonEnabled = window.testReceiptReady;
  v.settingsFrameEnabled = !state.settingsLocked;
  v.messagesFrameEnabled = !state.settingsLocked;
  v.dataDirText = ctx.dataDir;
  v.dataDirVisible = !ctx.dataDir.empty();
  v.trayIcon = window.jobAnnounced ? TrayIcon::kRunning : TrayIcon::kIdle;
  v.trayTip = window.jobAnnounced ? kTrayRunningTip : kTrayIdleTip;
  return v;
}

void AddTrayIcon(AppContext& ctx) {
  Window(ctx).jobAnnounced = false;
  Tray* tray = ctx.platform.tray;
  if (tray != nullptr && !tray->AddTrayIcon(TrayIcon::kIdle, kTrayIdleTip)) {
    ctx.platform.notifier.Log("Icona nell'area di notifica non aggiunta");
  }
}

void RemoveTrayIcon(AppContext& ctx) {
  if (ctx.platform.tray != nullptr) ctx.platform.tray->RemoveTrayIcon();
}

void AnnounceJob(AppContext& ctx, bool running) {
  Window(ctx).jobAnnounced = running;
  if (ctx.platform.tray != nullptr) {
    ctx.platform.tray->SetTrayIcon(running ? TrayIcon::kRunning : TrayIcon::kIdle,
                                   running ? kTrayRunningTip : kTrayIdleTip);
  }
}

void ShowPollingTick(AppContext& ctx) {
  WindowFacts& window = Window(ctx);
  if (!window.watched) return;
  window.blinkShown = window.blink;
  window.blink = !window.blink;
}

void RestoreWindow(AppContext& ctx) {
  OperatorWatches(ctx);
  Window(ctx).watched = true;
}

void MinimizeWindow(AppContext& ctx) { Window(ctx).watched = false; }

TrayAction TrayMouseMessage(AppContext& ctx, int message) {
  switch (message) {
    case kTrayDoubleClick:
      RestoreWindow(ctx);
      return TrayAction::kRestore;
    case kTrayRightDown:
    case kTrayRightUp:
      return TrayAction::kPopupMenu;
    default:
      return TrayAction::kNone;
  }
}

int TestReceiptSlot(const AppContext& ctx) {
  int slot = 0;
  for (int n = 1; n <= kSlotCount; ++n) {
    if (ctx.settings.slotOn[n - 1] && ctx.cycle.portAvailable[n - 1] &&
        !ctx.dump.pending[n - 1]) {
      slot = n;
    }
  }
  return slot;
}

bool TestReceiptBlocked(AppContext& ctx, int slot) {
  FileSystem& fs = ctx.platform.fs;
  if (fs.Inspect(JobFilePath(ctx, "SR_START", slot)).kind != FileKind::kMissing) return true;
  const FileInfo command = fs.Inspect(JobFilePath(ctx, "SR_DATI", slot));
  if (command.kind == FileKind::kMissing) return false;
  // The command file a failed job leaves stays; any other is a job being
  // written by the calling application.
  const auto& last = ctx.journal.slots[slot - 1];
  return !last || last->stage != JobStage::kDone || last->commandIdentity.empty() ||
         last->commandIdentity != command.identity;
}

int PrintTestReceipt(AppContext& ctx) {
  bool allPending = true;
  for (bool pending : ctx.dump.pending) allPending = allPending && pending;
  if (allPending) {
    ctx.state.ecrMessage = kDumpNotYetDone;
    return 0;
  }
  const int slot = TestReceiptSlot(ctx);
  if (slot == 0) return 0;
  if (TestReceiptBlocked(ctx, slot)) {
    ctx.state.ecrMessage = kTestReceiptJobWaiting;
    return 0;
  }

  // The files come first, and the flag holds what they are: a job written
  // over them by the calling application runs converted.
  const std::string command = JobFilePath(ctx, "SR_DATI", slot);
  const std::string start = JobFilePath(ctx, "SR_START", slot);
  Status written = WriteFreshFile(ctx, command, std::string(kTestReceiptLine) + "\r\n");
  if (written.ok()) written = WriteFreshFile(ctx, start, "1\r\n");
  if (!written.ok()) {
    ctx.platform.notifier.Log(written.Explain("Scontrino di prova non scritto in " + ctx.dataDir));
    return 0;
  }
  FileSystem& fs = ctx.platform.fs;
  TellTestReceiptWritten(ctx, TestReceiptFiles{static_cast<int16_t>(slot), fs.Inspect(start).identity,
                                               fs.Inspect(command).identity});
  Window(ctx).testReceiptReady = false;
  return slot;
}

void StoreBaudRate(AppContext& ctx) {
  ctx.settings.baudRate = BaudBoxValue(ctx.settings.speedText);
  WriteSettingsFile(ctx, "KBChkBd.txt", ctx.settings.speedText + "\r\n");
}

}  // namespace kolibra
