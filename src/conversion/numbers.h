// Reading and writing numbers, the one place that does it. Numbers in command
// files, settings files, the operator window, addresses and ECR replies always
// use "." as the decimal separator, whatever the machine's regional settings,
// so nothing here goes through a locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "conversion/conversion_state.h"

namespace kolibra {

// How a number may be written. With everything off it is bare decimal digits.
struct NumberForm {
  std::string_view blanks;           // skipped before the number, and after it in a whole text
  bool sign = false;                 // one "+" or "-" right before the digits
  bool point = false;                // one "." before, among or after the digits
  std::string_view exponentLetters;  // letters that start an exponent ("Ee"); an exponent
                                     // counts only when digits follow its optional sign
};

// Command-file numbers: blanks and tabs around, sign, point, and an exponent
// written with E or D in either case ("-.5", " 12 ", "1d-2").
inline constexpr NumberForm kCommandFileNumber{" \t", true, true, "EeDd"};

// The number that starts text after the form's blanks, as written; empty when
// none starts there. At least one digit is needed.
std::string_view LeadingNumberText(std::string_view text, const NumberForm& form);

// True when text, apart from the form's blanks around it, is one number.
bool IsNumberText(std::string_view text, const NumberForm& form);

// Value of a number text found by LeadingNumberText, in any form. A value too
// large for a double gives the largest double of its sign and sets
// *outOfRange; one too small gives 0 and sets it as well.
double NumberValue(std::string_view number, bool* outOfRange = nullptr);

// Value of the number that starts text (see LeadingNumberText); 0 when there
// is none. `written` receives the number's characters as they appear.
double LeadingNumber(std::string_view text, const NumberForm& form,
                     std::string* written = nullptr);

// Value of text when it is one number (see IsNumberText); nullopt otherwise.
std::optional<double> ParseNumber(std::string_view text, const NumberForm& form);

// Text of 1 to maxDigits decimal digits and nothing else, with a value in
// [low, high]; nullopt otherwise.
std::optional<int64_t> ParseBoundedInt(std::string_view text, int64_t low, int64_t high,
                                       std::size_t maxDigits);

// True when text is a command-file number (kCommandFileNumber).
bool IsNumeric(std::string_view text);

// Value of the command-file number at the start of text (after leading blanks),
// read up to the first character that cannot continue it; 0 when no number
// starts there. "12.5abc" gives 12.5, "abc" gives 0. A value too large for a
// double is the failure "Overflow".
Checked<double> NumericValue(std::string_view text);

// Nearest integer, halves to the even neighbour (12.5 gives 12, 13.5 gives 14).
double RoundHalfEven(double value);

// RoundHalfEven, then checked to fit the target type: the failure "Overflow"
// when it does not, instead of wrapping. A failed value passes its failure on.
Checked<int16_t> ToInt16Checked(const Checked<double>& value);
Checked<int32_t> ToInt32Checked(const Checked<double>& value);
Checked<int64_t> ToInt64Checked(const Checked<double>& value);

// Shortest decimal text of value with at most 15 significant digits, "." as
// separator, no trailing zeros, "0" before a bare fraction and no exponent
// below 10^15 ("2.5", "3", "0.5", "1E+15").
std::string FormatNumber(double value);

// Shortest decimal text of a value that reads back exactly, always with "."
// as the separator and never in exponent form ("2", "1.5", "0.25").
std::string FormatDecimal(double value);

}  // namespace kolibra
