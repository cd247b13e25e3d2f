// State of the ECR link shared by the transmission, the connection handling
// and the closing reply.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/driver_settings.h"
#include "core/owned_file.h"
#include "platform/event_loop.h"
#include "platform/status.h"

namespace kolibra {

// What the socket events leave for the transmission engine.
struct ReceiveSlot {
  std::string text;          // received text since the last re-arm
  bool dataArrived = false;
  bool armed = false;        // while set, the next chunk is stored
  bool socketError = false;  // any error other than the three below
  bool connectionError = false;  // 10053, 10060, 10061
  // Bytes already received beyond the answer last taken (the rest of a read
  // that carried an echo and what follows it); the next wait takes them first.
  std::string pending;
};

struct LinkState {
  std::string answer;                // ECR answer buffer
  bool timeoutFlag = false;
  uint8_t timeoutCountdown = 0;
  EventLoop::TimerId timeoutTimer = -1;    // time-out clock
  ReceiveSlot rx;
  OwnedFile trace;                   // trace file of the running job or dump
  int remotePort = 8000;
  std::string outputPath;            // current output-file path (SR_OUT.00n)
  OwnedFile output;                  // output file while SendJobLines runs
  std::string outputTemporary;       // the fresh temporary name output was created under
  // The receipt's records, kept in memory until SR_OUT is whole in place.
  std::string outputBytes;
  // The output file could not be written whole and put in place (a full
  // disk, the data folder gone): the job's outcome writes outputBytes later.
  bool outputUnplaced = false;
  bool reconnectQueued = false;      // a reconnect after error 10061 is posted
  bool reconnectActive = false;      // the posted reconnect is running now
  bool connectPolling = false;       // Reconnect is polling: it re-issues the connect itself
  bool refusedWhilePolling = false;  // a refusal came during those polls
  // The last socket error since the connect began, for the log of a
  // connection that did not come (ok when none came).
  Status connectFailure;
  bool sendingPaymentLine = false;   // the line being sent is one of the receipt's payment lines
  // A payment line may have reached the ECR (its writing began): the ECR
  // may have closed and printed the receipt, so the job's failure is uncertain.
  bool receiptMayBeClosed = false;
  bool held = false;                 // serial: the ECR sent XOFF and no XON since
  // Per slot, for the life of the process: the ECR there has been seen to
  // send XON after an XOFF. Only such an ECR has the line held until its XON;
  // after the XOFF of one that never sends XON a short fixed pause does.
  std::array<bool, kSlotCount> xonAfterXoffSeen{};
};

}  // namespace kolibra
