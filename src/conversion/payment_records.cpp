// Payment lines: TEND, BANC, CARD/CHEQ, TICK and CRED. Every line ends with
// the tender number and "T"; the tender number depends on the ECR's tender
// family code (from the configuration dump) and on the operator settings.
#include <algorithm>
#include <string>

#include "conversion/numbers.h"
#include "conversion/record_handlers.h"
#include "conversion/record_text.h"

namespace kolibra {

namespace {

bool IsZt(const ConversionSettings& s) { return s.tenderFamily == "ZT"; }

// The families whose debit card is tender 2.
bool IsDebitGroup(const ConversionSettings& s) {
  const std::string& f = s.tenderFamily;
  return f == "ST" || f == "AT" || f == "OT" || f == "ET" || f == "FT";
}

// The families whose credit tender is 2.
bool IsCreditPair(const ConversionSettings& s) {
  return s.tenderFamily == "ZT" || s.tenderFamily == "ET";
}

// Highest tender number for the "number of payments" setting: 5, 6, or 10 for
// every other choice.
int16_t TenderLimit(int paymentsIndex) {
  switch (paymentsIndex) {
    case 0: return 5;
    case 1: return 6;
    default: return 10;
  }
}

// "<quantity>*", the quantity written with "." whatever the regional settings;
// a text that is not a number counts as 1.
Checked<std::string> QuantityPart(const std::string& text) {
  const Checked<double> quantity = IsNumeric(text) ? NumericValue(text) : 1.0;
  if (!quantity.ok()) return quantity.failure();
  return FormatNumber(quantity.value()) + "*";
}

std::string DescriptionPart(const std::string& line) {
  std::string text;
  return GetField(false, text, line, ",:") ? QuoteText(text) : std::string();
}

std::string Tender(int n) { return std::to_string(n) + "T"; }

}  // namespace

StepFailure HandleTend(ConversionState& state, const std::string& line) {
  const ConversionSettings& s = state.settings;
  std::string value;
  GetField(false, value, line, ",N");
  const Checked<int16_t> number = ToInt16Checked(NumericValue(value));
  if (!number.ok()) return number.failure();
  int16_t n = std::min(number.value(), TenderLimit(s.paymentsIndex));

  if (n == 4) {
    if (s.pag4Bancomat) {
      // Tender 4 is the debit card: use the family's debit tender.
      if (IsZt(s)) {
        n = 3;
      } else if (IsDebitGroup(s)) {
        n = 2;
      }
    } else {
      // Tender 4 stays, and payments of this kind go last on the receipt.
      state.lastTenderSuffix = IsZt(s) ? "4T" : "5T";
    }
  }

  std::string amount;
  if (GetField(false, value, line, ",V")) {
    std::string quantity;
    if (GetField(false, quantity, line, ",Q")) {
      const Checked<std::string> part = QuantityPart(quantity);
      if (!part.ok()) return part.failure();
      amount = part.value();
    }
    amount += value + "H";
  }
  state.lineResult = DescriptionPart(line) + amount + Tender(n);
  return std::nullopt;
}

void HandleBanc(ConversionState& state, const std::string& line) {
  const ConversionSettings& s = state.settings;
  // Debit card. A family code that is none of the known ones (no dump has run
  // yet, or an unknown ECR) gets tender 4, the debit card's tender when
  // "Pagam.4 = Bancomat" is not ticked.
  int n = 4;
  if (IsZt(s)) {
    n = 3;
  } else if (IsDebitGroup(s)) {
    n = 2;
  }
  std::string amount;
  if (GetField(false, amount, line, ",V")) amount += "H";
  state.lineResult = DescriptionPart(line) + amount + Tender(n);
}

void HandleCardCheq(ConversionState& state, const std::string& line) {
  const int n = IsZt(state.settings) ? 3 : 4;
  std::string amount;
  if (GetField(false, amount, line, ",V") && IsNumeric(amount)) {
    state.lineResult = amount + "H" + Tender(n);
  } else {
    state.lineResult = Tender(n);
  }
}

StepFailure HandleTick(ConversionState& state, const std::string& line) {
  const int n = IsZt(state.settings) ? 5 : 6;
  std::string quantity;
  if (!GetField(false, quantity, line, ",Q")) quantity = "1";
  std::string amount;
  if (GetField(false, amount, line, ",V")) amount += "H";
  const Checked<std::string> part = QuantityPart(quantity);
  if (!part.ok()) return part.failure();
  state.lineResult = DescriptionPart(line) + part.value() + amount + Tender(n);
  return std::nullopt;
}

StepFailure HandleCred(ConversionState& state, const std::string& line) {
  const ConversionSettings& s = state.settings;
  std::string value;
  int16_t type = 0;
  if (GetField(false, value, line, ",T") && IsNumeric(value)) {
    const Checked<int16_t> t = ToInt16Checked(NumericValue(value));
    if (!t.ok()) return t.failure();
    type = t.value();
  }

  int n;
  switch (type) {
    case 3:
      // This credit type needs its own function ahead of the whole receipt
      // (the driver puts it in front of every line).
      ++state.leadingCreditFunctions;
      [[fallthrough]];
    case 0:
    case 1:
    case 2:
    case 4:
      n = IsCreditPair(s) ? 2 : 3;
      break;
    default:
      n = IsZt(s) ? 4 : 5;
      break;
  }

  std::string amount;
  if (GetField(false, amount, line, ",V") && IsNumeric(amount)) {
    state.lineResult = amount + "H" + Tender(n);
  } else {
    state.lineResult = Tender(n);
  }
  return std::nullopt;
}

}  // namespace kolibra
