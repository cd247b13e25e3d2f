// State of one conversion of a command file, shared by the conversion driver
// and the record handlers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kolibra {

// Inputs that the conversion reads from the operator settings and from the
// configuration dump.
struct ConversionSettings {
  int paymentsIndex = 0;       // 0 "5 PAGAMENTI", 1 "6 PAGAMENTI", 2 "8 PAGAMENTI"
  bool pag4Bancomat = false;   // "Pagam.4 = Bancomat"
  bool rt = false;             // the ECR works in RT mode
  std::string rtSerial;        // 11 characters, empty before a dump
  std::string tenderFamily;    // "ZT", "ST", "AT", "OT", "ET", "FT" or empty
};

struct ConversionState {
  explicit ConversionState(const ConversionSettings& s) : settings(s) {}

  const ConversionSettings& settings;
  std::vector<std::string> lines;     // the command file, in file order
  std::vector<std::string> output;    // command lines produced so far
  std::string lineResult;             // command line of the current record
  std::string customerCode;
  bool customerCodeEmitted = false;
  std::string codeCandidate;
  bool firstItemPending = true;
  bool percent = false;               // the current line holds ",%"
  std::string lastTenderSuffix;       // payment lines ending with it move last
  bool invoiceMode = false;
  bool documentReferenceOpen = false;
  int16_t tenderLineCount = 0;
  // "938F" lines that go ahead of every other line of the stream. Counted
  // here and put in front once at the end, so that many of them do not shift
  // the whole output each time.
  std::size_t leadingCreditFunctions = 0;
};

// An unexpected failure inside the conversion (such as a number too large for
// a 16-bit field). Thrown by handlers and caught by ConvertCommandFile, which
// reports it and refuses the conversion; it never leaves the conversion.
struct ConversionFailure {
  std::string description;
  int number = 0;
  int step = 0;
};

// Field extractor: finds key (case-insensitive) anywhere in line; with atStart
// the key must begin at column 1. On success value receives the field value.
bool GetField(bool atStart, std::string& value, std::string_view line, std::string_view key);

}  // namespace kolibra
