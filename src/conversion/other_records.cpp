// Records that are neither sales nor payments: invoices, printed and displayed
// text, drawer, non-fiscal documents, barcodes and references to an earlier
// document for a credit note or an annulment.
#include <cstdint>
#include <string>

#include "conversion/code_checks.h"
#include "conversion/numbers.h"
#include "conversion/record_handlers.h"
#include "conversion/record_text.h"

namespace kolibra {

namespace {

// Invoice heading lines are printed at most this wide.
constexpr std::size_t kHeadingWidth = 24;

bool IsCustomerCode(const std::string& text) {
  return CheckCodiceFiscale(text) || CheckPartitaIva(text);
}

// The invoice number with at least four digits: 12 gives "0012".
Checked<std::string> InvoiceNumber(const std::string& text) {
  const Checked<int64_t> number = ToInt64Checked(NumericValue(text));
  if (!number.ok()) return number.failure();
  const int64_t n = number.value();
  const uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  std::string digits = std::to_string(magnitude);
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  return n < 0 ? "-" + digits : digits;
}

// Credit note and annulment differ only in their marker and ending.
Checked<HandlerResult> HandleReference(ConversionState& state, const std::string& line,
                              const char* marker, const char* ending) {
  std::string kind;
  if (!GetField(false, kind, line, ",>")) return HandlerResult::kRefuse;
  if (kind.size() != 2 && kind.size() != 3 && kind.size() != 11) return HandlerResult::kRefuse;

  std::string result;
  std::string numbers;
  if (GetField(false, numbers, line, ",N")) {
    // Closing number and document number, four characters each; only a
    // document of an RT ECR (an 11-character serial number) carries them.
    if (numbers.size() != 8 || kind.size() != 11) return HandlerResult::kRefuse;
    const Checked<double> closing = NumericValue(numbers.substr(0, 4));
    const Checked<double> document = NumericValue(numbers.substr(4, 4));
    if (!closing.ok()) return closing.failure();
    if (!document.ok()) return document.failure();
    result = "99F" + TextLine(FormatNumber(closing.value())) + TextLine(FormatNumber(document.value()));
  }

  std::string date;
  if (GetField(false, date, line, ",D")) {
    if (kind.size() == 11) {
      // The document's ECR: this one is named by the marker, another by its
      // serial number.
      result += QuoteText(date) + "@" + QuoteText(kind == state.settings.rtSerial ? marker : kind) + ending;
    } else if (kind.size() == 3) {
      result = "99F\"0\"@\"0\"@" + QuoteText(date) + "@\"POS\"" + ending;
    } else {
      result = "99F\"0\"@\"0\"@" + QuoteText(date) + (kind == "VR" ? "@\"VR\"" : "@\"ND\"") + ending;
    }
    state.documentReferenceOpen = true;
  }
  state.lineResult = result;
  return HandlerResult::kDone;
}

}  // namespace

StepFailure HandleOpfs(ConversionState& state, const std::string& line) {
  state.invoiceMode = true;
  std::string value;
  if (GetField(false, value, line, ",N") && IsNumeric(value)) {
    const Checked<std::string> number = InvoiceNumber(value);
    if (!number.ok()) return number.failure();
    state.output.push_back(TextLine(number.value()));
  }
  state.output.push_back("99F");
  for (const char* key : {",:", ",<", ",=", ",>"}) {
    if (GetField(false, value, line, key)) state.output.push_back(TextLine(value.substr(0, kHeadingWidth)));
  }
  state.output.push_back("937F");
  return std::nullopt;
}

void HandleExtl(ConversionState& state, const std::string& line) {
  std::string text;
  if (!GetField(false, text, line, ",:")) return;
  if (state.invoiceMode) {
    state.output.push_back(TextLine(text.substr(0, kHeadingWidth)));
  } else if (!state.customerCodeEmitted && IsCustomerCode(text)) {
    state.output.push_back(TextLine(text));
    state.output.push_back("39F");
    state.customerCodeEmitted = true;
  }
}

HandlerResult HandlePrnt(ConversionState& state, const std::string& line) {
  std::string text;
  if (!GetField(false, text, line, ",:")) return HandlerResult::kDone;
  // A fiscal code or VAT number is the customer's code, taken by the pre-scan,
  // and is not printed.
  if (IsCustomerCode(text)) return HandlerResult::kDropLine;
  state.lineResult = TextLine(text);
  return HandlerResult::kDone;
}

StepFailure HandleDisp(ConversionState& state, const std::string& line) {
  // The customer display has two rows.
  int16_t row = 1;
  std::string value;
  if (GetField(false, value, line, ",N") && IsNumeric(value)) {
    const Checked<int16_t> number = ToInt16Checked(NumericValue(value));
    if (!number.ok()) return number.failure();
    row = number.value() > 1 ? 2 : number.value();
  }
  std::string text;
  if (GetField(false, text, line, ",:")) state.lineResult = QuoteText(text) + std::to_string(row) + "%";
  return std::nullopt;
}

void HandleOpen(ConversionState& state, const std::string&) { state.lineResult = "a"; }

void HandleOpnf(ConversionState& state, const std::string&) { state.lineResult = "j"; }

void HandleClnf(ConversionState& state, const std::string&) { state.lineResult = "J"; }

StepFailure HandleBarc(ConversionState& state, const std::string& line) {
  std::string value;
  if (!GetField(false, value, line, ",T") || !IsNumeric(value)) return std::nullopt;
  const Checked<int16_t> number = ToInt16Checked(NumericValue(value));
  if (!number.ok()) return number.failure();
  int16_t type = number.value();
  // Only the three barcode types 1 to 3 are printed here; any other type is
  // left to the external converter.
  if (type < 1 || type > 3) return std::nullopt;
  if (GetField(false, value, line, ",H")) {
    static constexpr int16_t kFlagged[] = {0, 5, 4, 6};
    type = kFlagged[type];
  }
  std::string code;
  if (GetField(false, code, line, ",:")) state.lineResult = QuoteText(code) + std::to_string(type) + "B";
  return std::nullopt;
}

Checked<HandlerResult> HandleNdcr(ConversionState& state, const std::string& line) {
  return HandleReference(state, line, "1", "@931F");
}

Checked<HandlerResult> HandleDeld(ConversionState& state, const std::string& line) {
  return HandleReference(state, line, "0", "@930F");
}

}  // namespace kolibra
