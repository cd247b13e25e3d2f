#include "ui/operator_window.h"

#include <algorithm>
#include <cstdint>

#include "conversion/numbers.h"
#include "core/file_util.h"
#include "core/job_files.h"
#include "core/messages.h"
#include "core/poll_timer.h"

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

void AddTrayIcon(AppContext& ctx) {
  ctx.ui.trayIcon = TrayIcon::kIdle;
  ctx.ui.trayTip = kTrayIdleTip;
  Tray* tray = ctx.platform.tray;
  if (tray != nullptr && !tray->AddTrayIcon(TrayIcon::kIdle, kTrayIdleTip)) {
    ctx.platform.notifier.Log("Icona nell'area di notifica non aggiunta");
  }
}

void RemoveTrayIcon(AppContext& ctx) {
  if (ctx.platform.tray != nullptr) ctx.platform.tray->RemoveTrayIcon();
}

void RestoreWindow(AppContext& ctx) {
  for (int i = 0; i < kSlotCount; ++i) {
    if (ctx.ui.slotCheck[i].value != 1) ctx.dump.pending[i] = true;
    ctx.ui.dumpText[i] = ctx.dump.pending[i] ? kDumpNotDone : kDumpDone;
  }
  ctx.ui.windowShown = true;
}

void MinimizeWindow(AppContext& ctx) { ctx.ui.windowShown = false; }

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
    if (ctx.ui.slotCheck[n - 1].value == 1 && ctx.cycle.portAvailable[n - 1] &&
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
  const auto& last = ctx.cycle.journal.slots[slot - 1];
  return !last || last->stage != JobStage::kDone || last->commandIdentity.empty() ||
         last->commandIdentity != command.identity;
}

int PrintTestReceipt(AppContext& ctx) {
  if (!ctx.ui.windowShown) return 0;
  bool allPending = true;
  for (bool pending : ctx.dump.pending) allPending = allPending && pending;
  if (allPending) {
    ctx.ui.ecrMessage = "DUMP NON ANCORA ESEGUITO";
    return 0;
  }
  const int slot = TestReceiptSlot(ctx);
  if (slot == 0) return 0;
  if (TestReceiptBlocked(ctx, slot)) {
    ctx.ui.ecrMessage = kTestReceiptJobWaiting;
    return 0;
  }

  // The files come first, and the flag holds what they are: a job written
  // over them by the calling application runs converted.
  const std::string command = JobFilePath(ctx, "SR_DATI", slot);
  const std::string start = JobFilePath(ctx, "SR_START", slot);
  if (!WriteFreshFile(ctx, command, std::string(kTestReceiptLine) + "\r\n") ||
      !WriteFreshFile(ctx, start, "1\r\n")) {
    ctx.platform.notifier.Log("Scontrino di prova non scritto in " + ctx.dataDir);
    return 0;
  }
  FileSystem& fs = ctx.platform.fs;
  ctx.cycle.testFiles = TestReceiptFiles{static_cast<int16_t>(slot), fs.Inspect(start).identity,
                                         fs.Inspect(command).identity};
  if (!PollTimerEnabled(ctx)) EnablePollTimer(ctx, true);
  ctx.ui.testButtonEnabled = false;
  return slot;
}

void StoreBaudRate(AppContext& ctx) {
  ctx.baudRate = BaudBoxValue(ctx.ui.baudText);
  const std::string path = JoinPath(ctx.settingsDir, "KBChkBd.txt");
  if (!WriteWholeFile(path, ctx.ui.baudText + "\r\n")) {
    ctx.platform.notifier.Log("Impossibile scrivere " + path);
  }
}

}  // namespace kolibra
