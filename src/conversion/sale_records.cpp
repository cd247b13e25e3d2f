// Sale lines (SALE, PLUD) and surcharges (ADDS).
#include <string>

#include "conversion/normalizer.h"
#include "conversion/numbers.h"
#include "conversion/record_handlers.h"
#include "conversion/record_text.h"
#include "conversion/text_util.h"

namespace kolibra {

namespace {

// The placeholder treatment the driver gives a produced line, for the sale line
// that the first-item variant appends to the output directly: a "|" at the
// start is dropped, one further in becomes "H" (or "*" for a percentage), and
// the line goes to capitals. Without it a "|9m" would reach the ECR as is.
std::string ResolvePlaceholder(std::string line, bool percent) {
  const std::size_t bar = line.find('|');
  if (bar == std::string::npos) return line;
  if (bar == 0) {
    line.erase(0, 1);
  } else {
    line[bar] = percent ? '*' : 'H';
  }
  for (char& c : line) c = UpperCp1252(c);
  return line;
}

}  // namespace

StepFailure HandleSale(ConversionState& state, const std::string& line) {
  if (!StartsWithNoCase(line, "PLUD")) state.firstItemPending = false;

  std::string& result = state.lineResult;
  result.clear();
  std::string pendingComment;
  std::string value;

  // Return flag; a referenced credit note or annulment already makes the whole
  // document a return.
  if (GetField(false, value, line, ",R") && !state.documentReferenceOpen) result += "|9m";

  // ",S" matches wherever ",S1" does, so the longer keys go first.
  std::string modifier;
  if (GetField(false, value, line, ",S1")) {
    modifier = "17M";
  } else if (GetField(false, value, line, ",S3")) {
    modifier = "13M";
  } else if (GetField(false, value, line, ",S2")) {
    modifier = "16M";
  } else if (GetField(false, value, line, ",S")) {
    result += "|0m";
  }

  if (modifier.empty() && GetField(false, value, line, ",:")) result += QuoteText(value);

  std::string price;
  if (GetField(false, price, line, ",P")) {
    std::string quantityText;
    const bool hasQuantity = GetField(false, quantityText, line, ",Q");
    if (price.find('.') != std::string::npos) {
      // Price in currency units: the ECR gets the total in cents for one
      // piece, and a comment line shows quantity and unit price.
      const Checked<double> unitPrice = NumericValue(price);
      if (!unitPrice.ok()) return unitPrice.failure();
      double quantity = 1.0;
      if (hasQuantity) {
        const Checked<double> q = NumericValue(quantityText);
        if (!q.ok()) return q.failure();
        quantity = q.value();
      } else {
        quantityText = "1";
      }
      const std::string priceText = FormatNumber(unitPrice.value());
      if (!state.firstItemPending) {
        state.output.push_back(TextLine("  " + quantityText + " X " + priceText));
      } else {
        pendingComment = TextLine(" ^---**  " + quantityText + " X " + priceText);
      }
      const Checked<int32_t> cents = ToInt32Checked(unitPrice.value() * quantity * 100.0);
      if (!cents.ok()) return cents.failure();
      result += "1*" + std::to_string(cents.value()) + "H";
    } else {
      if (hasQuantity) result += quantityText + "*";
      result += price + "H";
    }
  }

  std::string department;
  const bool hasDepartment = GetField(false, department, line, ",N");
  if (modifier == "13M") {
    result += "13M";
  } else {
    if (!modifier.empty()) result.insert(0, modifier);
    if (hasDepartment) result += department + "R";
  }

  if (!pendingComment.empty() && state.firstItemPending) {
    state.output.push_back(ResolvePlaceholder(result, state.percent));
    result = pendingComment;
  }
  state.firstItemPending = false;
  return std::nullopt;
}

void HandleSurcharge(ConversionState& state, const std::string& line) {
  std::string value;
  if (!GetField(false, value, line, ",V")) return;
  state.lineResult = "=" + value + "H8M";
}

}  // namespace kolibra
