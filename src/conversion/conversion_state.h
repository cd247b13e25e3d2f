// State of one conversion of a command file, shared by the conversion driver
// and the record handlers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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
// a 16-bit field). Returned by the steps that meet it, up to the conversion
// driver, which reports it and refuses the conversion.
struct ConversionFailure {
  std::string description;
  int number = 0;
  int step = 0;
};

// A value of the conversion, or the failure that stops it.
template <class T>
class Checked {
 public:
  Checked(T value) : value_(std::move(value)) {}
  Checked(ConversionFailure failure) : failure_(std::move(failure)) {}
  bool ok() const { return !failure_.has_value(); }
  const T& value() const { return value_; }
  const ConversionFailure& failure() const { return *failure_; }

 private:
  T value_{};
  std::optional<ConversionFailure> failure_;
};

// What a step without a value returns: nothing when it went well, otherwise
// the failure that stops the conversion.
using StepFailure = std::optional<ConversionFailure>;

// Field extractor: finds key (case-insensitive) anywhere in line; with atStart
// the key must begin at column 1. On success value receives the field value.
bool GetField(bool atStart, std::string& value, std::string_view line, std::string_view key);

}  // namespace kolibra
