// What the driver reports to the operator: facts the window and
// `kolibra ctl status` show, written by the logic, never presentation, and
// recorded whether or not the window is on the screen.
#pragma once

#include <array>
#include <string>

#include "core/driver_settings.h"

namespace kolibra {

// A slot's port as start-up and the dump found it.
enum class PortState { kUnknown, kAvailable, kSwitchedOff };

// The TCP connection to the ECR, as the link reports it.
enum class ConnectionState { kClosed, kOpen };

struct DriverState {
  std::string status;                      // what the driver is doing
  std::string ecrMessage;                  // the ECR's last message
  std::string serialNumber = "Matricola";  // the ECR's serial number
  // The dump outcome of each slot as last told ("" until first told).
  std::array<std::string, kSlotCount> dumpText;
  std::array<PortState, kSlotCount> port{};
  // The slot's box takes no click: its port is missing or a dump switched it off.
  std::array<bool, kSlotCount> slotLocked{};
  ConnectionState connection = ConnectionState::kClosed;
  bool resetClosing = false;      // a connection reset is closing the connection
  bool settingsLocked = false;    // the last slot box clicked was ticked
};

}  // namespace kolibra
