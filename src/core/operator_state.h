// Every value of the operator window that the logic reads or writes, kept
// apart from any real window so that a window can bind to it later.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/tray.h"

namespace kolibra {

constexpr int kSlotCount = 4;

// Indicator colours as the window paints them.
constexpr int32_t kColourGreen = 65280;
constexpr int32_t kColourRed = 255;

// The items of the speed list and of the payments list.
inline constexpr std::array<const char*, 5> kSpeedItems{"9600", "19200", "38400", "57600", "115200"};
inline constexpr std::array<const char*, 3> kPaymentItems{"5 PAGAMENTI", "6 PAGAMENTI", "8 PAGAMENTI"};

struct CheckBox {
  int value = 0;  // 1 = ticked
  bool enabled = true;
};

struct OperatorState {
  // Port slots 1..4 live at index 0..3.
  std::array<CheckBox, kSlotCount> slotCheck;       // enable box of each slot
  std::array<int32_t, kSlotCount> slotIndicator{};  // port indicator colour of each slot
  std::array<std::string, kSlotCount> dumpText;     // dump outcome box of each slot

  std::string ecrMessage;                   // the ECR message box
  std::string status;                       // the status box
  std::string timerState;                   // "Timer ON" / "Timer on", blinking with the ticks
  std::string serialNumber = "Matricola";   // the serial-number box
  std::string dataDirText;                  // the data-folder box ...
  bool dataDirVisible = false;              // ... and its label, shown when it applies
  std::string tickCounterText;              // the tick counter box
  std::string timerValue = "1";             // the polling value box
  std::string baudText = "9600";            // the speed list
  int paymentsIndex = 0;                    // the payments list: 5, 6, 8 PAGAMENTI
  bool serialChosen = false;                // the serial / network choice
  bool networkChosen = false;
  std::string remoteIp;                     // the address box
  int32_t connectionIndicator = kColourRed; // the connection indicator colour
  std::string resetConnCaption = "Reset Connessione";
  std::string validateIpCaption = "Valida IP";
  CheckBox pag4Bancomat;                    // fourth payment is the debit card
  CheckBox trace;
  CheckBox footerRt;
  CheckBox passThrough;                     // the command file already holds ECR lines
  bool testButtonEnabled = true;            // " Esegui Test"
  bool settingsFrameEnabled = true;         // locked while a slot box is ticked
  bool messagesFrameEnabled = true;
  bool windowShown = false;
  TrayIcon trayIcon = TrayIcon::kIdle;
  std::string trayTip;
};

}  // namespace kolibra
