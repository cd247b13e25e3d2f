// What the simulated ECR answers and how it keeps track of the open receipt.
// Pure logic: no I/O, no clock (the caller passes the local time).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace ecrsim {

struct EcrConfig {
  bool rtMode = true;                   // status answer ends in "6" (RT) or "0" (MF)
  std::string mfSerial = "99MEY012";    // 8 characters
  std::string rtSerial = "99MZT123456";  // 11 characters
  std::string serial = "99123456";      // 8 characters
  int firstReceipt = 1;                 // number of the first receipt closed
  int firstNumber = 1;                  // the number printed before the receipt number
  bool modelFt = false;                 // numbers stand 16 characters earlier
};

struct ReceiptState {
  int64_t sales = 0;     // cents; returns subtract
  int64_t tendered = 0;  // cents
  int nextReceipt = 1;   // 1..9999
  int receiptsClosed = 0;
};

struct EcrState {
  EcrConfig config;
  ReceiptState receipt;
};

void InitEcr(EcrState& ecr, const EcrConfig& config);

// The answers to one command. The echo is always the command itself.
struct CommandAnswers {
  std::string second;       // TCP: second answer; empty means none
  std::string serialWrite;  // serial: the one write (echo, plus the dump answer)
  bool closesReceipt = false;
};

// Registers the command (sales, tenders, reset) and returns its answers.
CommandAnswers HandleCommand(EcrState& ecr, const std::string& command);

// True for the dump commands " K", "48F", "47F", "41F".
bool IsDumpCommand(const std::string& command);

// Builds the closing reply of the receipt just closed (STX ... ETX) with the
// given local time, and advances the receipt number.
std::string BuildClosingReply(EcrState& ecr, const std::tm& localTime);

// Parsed form of an ECR command line, for the receipt bookkeeping.
struct LineAmount {
  enum Kind { kOther, kSale, kSurcharge, kTender } kind = kOther;
  bool hasAmount = false;
  int64_t cents = 0;  // quantity already applied; negative for a return
};
LineAmount ParseLine(const std::string& line);

}  // namespace ecrsim
