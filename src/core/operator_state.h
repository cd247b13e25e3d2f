// Every value of the operator window that the logic reads or writes, kept
// apart from any real window so that a window can bind to it later.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kolibra {

constexpr int kSlotCount = 4;

// Indicator colours as the window paints them.
constexpr int32_t kColourGreen = 65280;
constexpr int32_t kColourRed = 255;

struct CheckBox {
  int value = 0;  // 1 = ticked
  bool enabled = true;
};

struct OperatorState {
  // Port slots 1..4 live at index 0..3.
  std::array<CheckBox, kSlotCount> slotCheck;                 // Check1..Check4
  std::array<int32_t, kSlotCount> slotShape{};                // Shape1, Shape2, Shape4, Shape5
  std::array<std::string, kSlotCount> dumpText;               // Text4..Text7

  std::string ecrMessage;                                     // Text1
  std::string status;                                         // Text2
  std::string timerState;                                     // Text3
  std::string serialNumber = "Matricola";                     // Text8
  std::string dataDirText;                                    // txtAppDataVista
  bool dataDirVisible = false;                                // txtAppDataVista, lblPathVista
  std::string tickCounterText;                                // txtTimer
  std::string timerValue = "1";                               // txtTimerVal
  std::string baudText = "9600";                              // cmbBaude
  int paymentsIndex = 0;                                      // cboPagamenti: 5, 6, 8 PAGAMENTI
  bool optionRs232 = false;                                   // OptionRS232
  bool optionRete = false;                                    // OptionRete
  std::string remoteIp;                                       // txtRemoteIP
  int32_t connShape = kColourRed;                             // ShapeConn
  std::string resetConnCaption = "Reset Connessione";         // cmdResetConn
  std::string validateIpCaption = "Valida IP";                // cmdValidateIP
  CheckBox pag4Bancomat;                                      // chbPag4Bancomat
  CheckBox trace;                                             // chbTrace
  CheckBox footerRt;                                          // CheckFooterRT
  CheckBox passThrough;                                       // chbEnableXon_XoffInput
  bool testButtonEnabled = true;                              // CMBFile
  bool frame3Enabled = true;                                  // Frame3
  bool frame4Enabled = true;                                  // Frame4
  bool windowShown = false;                                   // window-shown flag
  int trayIcon = 0;                                           // 0 idle, 1 running
  std::string trayTip;
};

}  // namespace kolibra
