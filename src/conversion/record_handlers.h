// The record handlers of the conversion. The conversion driver calls each one
// only after its dispatch test has matched; a handler leaves its command line
// in state.lineResult and may append whole lines to state.output at once.
// A handler that reads numbers returns the failure that stops the conversion
// (a number out of range), if any.
#pragma once

#include <string>

#include "conversion/conversion_state.h"

namespace kolibra {

// What a handler tells the driver beyond its line result.
enum class HandlerResult {
  kDone,      // go on as the dispatch table says for this record
  kDropLine,  // leave the record out entirely (no output, no post-processing)
  kRefuse,    // refuse the whole conversion
};

// Sales and adjustments.
StepFailure HandleSale(ConversionState& state, const std::string& line);       // PLUD, SALE,
void HandleSurcharge(ConversionState& state, const std::string& line);  // ADDS, with ,V

// Payments.
StepFailure HandleTend(ConversionState& state, const std::string& line);       // TEND with ,N
void HandleBanc(ConversionState& state, const std::string& line);
void HandleCardCheq(ConversionState& state, const std::string& line);   // CARD, or CHEQ anywhere
StepFailure HandleTick(ConversionState& state, const std::string& line);
StepFailure HandleCred(ConversionState& state, const std::string& line);

// Other records.
StepFailure HandleOpfs(ConversionState& state, const std::string& line);
void HandleExtl(ConversionState& state, const std::string& line);
HandlerResult HandlePrnt(ConversionState& state, const std::string& line);
StepFailure HandleDisp(ConversionState& state, const std::string& line);       // DISP, with ,:
void HandleOpen(ConversionState& state, const std::string& line);       // OPEN, with ,N
void HandleOpnf(ConversionState& state, const std::string& line);       // outside invoice mode
void HandleClnf(ConversionState& state, const std::string& line);       // outside invoice mode
StepFailure HandleBarc(ConversionState& state, const std::string& line);
Checked<HandlerResult> HandleNdcr(ConversionState& state, const std::string& line);  // RT flag set
Checked<HandlerResult> HandleDeld(ConversionState& state, const std::string& line);  // RT flag set

}  // namespace kolibra
