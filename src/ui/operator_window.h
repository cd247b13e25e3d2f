// The operator window: what it shows (derived from the driver), showing and
// hiding it, the tray icon, the test receipt, and the program's identity.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/app_context.h"
#include "core/version.h"

namespace kolibra {

inline constexpr const char* kWindowCaption =
    "Norvik_Kolibra per ZIZ_ADUD ( XON_XOFF)   RT + V7";
inline constexpr const char* kTestReceiptLine = "K\"PROVA\"10H1R0M\"PROVA\"10H1R=1T";

// Indicator colours as the window paints them.
constexpr int32_t kColourGreen = 65280;
constexpr int32_t kColourRed = 255;

// What the window shows, derived from the driver's settings and state.
struct OperatorView {
  std::array<bool, kSlotCount> slotTicked{};
  std::array<bool, kSlotCount> slotBoxEnabled{};
  std::array<int32_t, kSlotCount> slotColour{};
  std::array<std::string, kSlotCount> dumpText;
  std::string ecrMessage;
  std::string status;
  std::string timerState;  // "Timer ON" / "Timer on", blinking with the ticks
  std::string serialNumber;
  std::string tickCounterText;
  std::string pollingValue;
  std::string speedText;
  int paymentsIndex = 0;
  bool serialChosen = false;
  bool networkChosen = false;
  std::string address;
  int32_t connectionColour = kColourRed;
  bool resetClosing = false;  // the reset button says the connection closes
  bool trace = false;
  bool footerRt = false;
  bool passThrough = false;
  bool fourthPaymentCard = false;
  bool testButtonEnabled = true;
  bool settingsFrameEnabled = true;  // locked while a slot box is ticked
  bool messagesFrameEnabled = true;
  std::string dataDirText;
  bool dataDirVisible = false;  // the data-folder box and its label
  TrayIcon trayIcon = TrayIcon::kIdle;
  std::string trayTip;
};

OperatorView DeriveView(const AppContext& ctx);

// Adds the tray icon in its idle state / removes it.
void AddTrayIcon(AppContext& ctx);
void RemoveTrayIcon(AppContext& ctx);

// The tray tells whether a job runs.
void AnnounceJob(AppContext& ctx, bool running);
// A polling tick that polls: the blink shown in the window turns, while the
// operator watches.
void ShowPollingTick(AppContext& ctx);

// Brings the window back from the tray and refreshes the dump boxes.
void RestoreWindow(AppContext& ctx);
// The window was minimized: it leaves the screen, only the tray icon stays.
void MinimizeWindow(AppContext& ctx);

// What a mouse message over the tray icon asks for.
enum class TrayAction { kNone, kRestore, kPopupMenu };
// 515 double click restores the window; 516/517 (right button) pops up the
// "&File" menu; anything else does nothing.
TrayAction TrayMouseMessage(AppContext& ctx, int message);

// The " Esegui Test" button: writes a ready-made receipt into the command and
// start files of the last usable, dumped slot, wherever the window is; not
// while a job of the calling application waits in that slot (the ECR message
// box then says so). Returns the slot used, or 0 when nothing was written.
int PrintTestReceipt(AppContext& ctx);
// True when the slot holds a job of the calling application: its start file,
// or a command file other than the one its last job left.
bool TestReceiptBlocked(AppContext& ctx, int slot);
// The slot a test receipt goes to: the last ticked slot whose port is
// available and whose dump is done; 0 when there is none.
int TestReceiptSlot(const AppContext& ctx);

// "Set velocità": takes the baud rate from the speed list and stores KBChkBd.txt.
void StoreBaudRate(AppContext& ctx);

}  // namespace kolibra
