// What the operator chooses and the settings files store: the logic reads
// these values, the window and `kolibra ctl` change them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kolibra {

constexpr int kSlotCount = 4;

// The items of the speed list and of the payments list.
inline constexpr std::array<const char*, 5> kSpeedItems{"9600", "19200", "38400", "57600", "115200"};
inline constexpr std::array<const char*, 3> kPaymentItems{"5 PAGAMENTI", "6 PAGAMENTI", "8 PAGAMENTI"};

// The link to the ECR; with no settings file neither is chosen.
enum class LinkMode { kNone, kSerial, kNetwork };

struct DriverSettings {
  // Slots 1..4 at index 0..3: the slot takes jobs (KBCHKCOM.TXT).
  std::array<bool, kSlotCount> slotOn{};
  // The polling value as the operator gave it (KBTIMER1.TXT).
  std::string pollingValue = "1";
  // The speed as the list shows it (KBChkBd.txt) and the baud rate it gives.
  std::string speedText = "9600";
  int32_t baudRate = 9600;
  // KBCHKSCO.TXT.
  int paymentsIndex = 0;  // 5, 6, 8 PAGAMENTI
  LinkMode linkMode = LinkMode::kNone;
  std::string address;     // the ECR's IP address
  bool trace = false;
  bool footerRt = false;
  // "Attiva Input Xon-Xoff" (ctl pass-through): the command file already
  // holds ECR command lines, sent as they are (no XON.txt is written). Not
  // the XON/XOFF flow control of the serial link.
  bool passThrough = false;
  bool fourthPaymentCard = false;  // the fourth payment is the debit card
};

}  // namespace kolibra
