// Numeric helpers of the record handlers. Numbers in command files always use
// "." as the decimal separator, whatever the machine's regional settings, so
// nothing here goes through a locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kolibra {

// True when text is a number: optional blanks around it, an optional sign,
// digits with at most one ".", and an optional exponent ("E" or "D" followed
// by an optional sign and digits). At least one digit is needed.
bool IsNumeric(std::string_view text);

// Value of the number at the start of text (after leading blanks), read up to
// the first character that cannot continue it; 0 when no number starts there.
// "12.5abc" gives 12.5, "abc" gives 0.
double NumericValue(std::string_view text);

// Nearest integer, halves to the even neighbour (12.5 gives 12, 13.5 gives 14).
double RoundHalfEven(double value);

// RoundHalfEven, then checked to fit the target type; throws ConversionFailure
// ("Overflow") when it does not, instead of wrapping.
int16_t ToInt16Checked(double value);
int32_t ToInt32Checked(double value);
int64_t ToInt64Checked(double value);

// Shortest decimal text of value with at most 15 significant digits, "." as
// separator, no trailing zeros, "0" before a bare fraction and no exponent
// below 10^15 ("2.5", "3", "0.5", "1E+15").
std::string FormatNumber(double value);

}  // namespace kolibra
