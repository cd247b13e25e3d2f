// Reading and writing numbers without a locale.
#include "conversion/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "conversion/conversion_state.h"

namespace kolibra {

namespace {

constexpr int kOverflowNumber = 6;
constexpr double kLargest = std::numeric_limits<double>::max();

bool IsDigitChar(char c) { return c >= '0' && c <= '9'; }
bool IsSign(char c) { return c == '+' || c == '-'; }

std::size_t SkipBlanks(std::string_view text, std::size_t i, std::string_view blanks) {
  while (i < text.size() && blanks.find(text[i]) != std::string_view::npos) ++i;
  return i;
}

std::size_t SkipDigits(std::string_view text, std::size_t i) {
  while (i < text.size() && IsDigitChar(text[i])) ++i;
  return i;
}

// The parts of a number text as LeadingNumberText finds it.
struct NumberParts {
  bool negative = false;
  std::string_view whole;     // digits before the point
  std::string_view fraction;  // digits after it
  bool negativeExponent = false;
  std::string_view exponent;  // digits of the exponent
};

NumberParts Split(std::string_view number) {
  NumberParts p;
  std::size_t i = 0;
  if (i < number.size() && IsSign(number[i])) p.negative = number[i++] == '-';
  std::size_t end = SkipDigits(number, i);
  p.whole = number.substr(i, end - i);
  i = end;
  if (i < number.size() && number[i] == '.') {
    end = SkipDigits(number, ++i);
    p.fraction = number.substr(i, end - i);
    i = end;
  }
  if (i < number.size()) {  // the exponent letter
    ++i;
    if (i < number.size() && IsSign(number[i])) p.negativeExponent = number[i++] == '-';
    p.exponent = number.substr(i);
  }
  return p;
}

// True when a number too large or too small for a double is the large kind:
// its first significant digit stands at or above the units.
bool AboveOne(const NumberParts& p) {
  constexpr long long kExponentCap = 1000000;  // far beyond any double
  long long exponent = 0;
  for (char c : p.exponent) {
    exponent = exponent * 10 + (c - '0');
    if (exponent > kExponentCap) break;
  }
  if (p.negativeExponent) exponent = -exponent;
  const std::size_t lead = p.whole.find_first_not_of('0');
  if (lead != std::string_view::npos) {
    return static_cast<long long>(p.whole.size() - lead) + exponent > 0;
  }
  const std::size_t zeros = p.fraction.find_first_not_of('0');
  if (zeros == std::string_view::npos) return false;  // zero is never out of range
  return exponent - static_cast<long long>(zeros) > 0;
}

ConversionFailure Overflow() { return ConversionFailure{"Overflow", kOverflowNumber, 0}; }

template <typename T>
Checked<T> ToChecked(const Checked<double>& value) {
  if (!value.ok()) return value.failure();
  const double r = RoundHalfEven(value.value());
  if (!std::isfinite(r) || r < static_cast<double>(std::numeric_limits<T>::min()) ||
      r >= -static_cast<double>(std::numeric_limits<T>::min())) {
    return Overflow();
  }
  return static_cast<T>(r);
}

}  // namespace

std::string_view LeadingNumberText(std::string_view text, const NumberForm& form) {
  const std::size_t start = SkipBlanks(text, 0, form.blanks);
  std::size_t i = start;
  if (form.sign && i < text.size() && IsSign(text[i])) ++i;
  bool digits = false;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (IsDigitChar(text[i])) {
      digits = true;
    } else if (form.point && text[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!digits) return {};
  if (i < text.size() && form.exponentLetters.find(text[i]) != std::string_view::npos) {
    std::size_t j = i + 1;
    if (j < text.size() && IsSign(text[j])) ++j;
    const std::size_t end = SkipDigits(text, j);
    if (end > j) i = end;
  }
  return text.substr(start, i - start);
}

bool IsNumberText(std::string_view text, const NumberForm& form) {
  const std::string_view number = LeadingNumberText(text, form);
  if (number.empty()) return false;
  const auto end = static_cast<std::size_t>(number.data() - text.data()) + number.size();
  return SkipBlanks(text, end, form.blanks) == text.size();
}

double NumberValue(std::string_view number, bool* outOfRange) {
  if (outOfRange) *outOfRange = false;
  const NumberParts p = Split(number);
  if (p.whole.empty() && p.fraction.empty()) return 0.0;
  // from_chars wants a digit before the point and takes neither "+" nor "D".
  std::string canonical;
  canonical.reserve(number.size() + 2);
  if (p.negative) canonical.push_back('-');
  if (p.whole.empty()) {
    canonical.push_back('0');
  } else {
    canonical.append(p.whole);
  }
  if (!p.fraction.empty()) canonical.append(".").append(p.fraction);
  if (!p.exponent.empty()) canonical.append(p.negativeExponent ? "e-" : "e").append(p.exponent);
  double value = 0.0;
  const auto res = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
  if (res.ec != std::errc::result_out_of_range) return value;
  if (outOfRange) *outOfRange = true;
  if (!AboveOne(p)) return 0.0;
  return p.negative ? -kLargest : kLargest;
}

double LeadingNumber(std::string_view text, const NumberForm& form, std::string* written) {
  const std::string_view number = LeadingNumberText(text, form);
  if (written) written->assign(number);
  return NumberValue(number);
}

std::optional<double> ParseNumber(std::string_view text, const NumberForm& form) {
  if (!IsNumberText(text, form)) return std::nullopt;
  return NumberValue(LeadingNumberText(text, form));
}

std::optional<int64_t> ParseBoundedInt(std::string_view text, int64_t low, int64_t high,
                                       std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  int64_t v = 0;
  for (char c : text) {
    if (!IsDigitChar(c)) return std::nullopt;
    if (v > (std::numeric_limits<int64_t>::max() - 9) / 10) return std::nullopt;  // above any high
    v = v * 10 + (c - '0');
  }
  if (v < low || v > high) return std::nullopt;
  return v;
}

bool IsNumeric(std::string_view text) { return IsNumberText(text, kCommandFileNumber); }

Checked<double> NumericValue(std::string_view text) {
  const std::string_view number = LeadingNumberText(text, kCommandFileNumber);
  bool outOfRange = false;
  const double value = NumberValue(number, &outOfRange);
  if (!outOfRange) return value;
  // Out of range with a negative exponent reads as 0; anything else out of
  // range is an overflow, not a silent zero.
  if (Split(number).negativeExponent) return 0.0;
  return Overflow();
}

double RoundHalfEven(double value) {
  if (!std::isfinite(value)) return value;
  const double floor = std::floor(value);
  const double diff = value - floor;
  if (diff < 0.5) return floor;
  if (diff > 0.5) return floor + 1.0;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

Checked<int16_t> ToInt16Checked(const Checked<double>& value) { return ToChecked<int16_t>(value); }
Checked<int32_t> ToInt32Checked(const Checked<double>& value) { return ToChecked<int32_t>(value); }
Checked<int64_t> ToInt64Checked(const Checked<double>& value) { return ToChecked<int64_t>(value); }

std::string FormatNumber(double value) {
  if (value == 0.0 || !std::isfinite(value)) return "0";
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string text(buf, res.ptr);
  const std::size_t e = text.find('e');
  if (e != std::string::npos) {
    // Exponent form for very small or very large values: "1E+15", "1E-05".
    text[e] = 'E';
  }
  return text;
}

std::string FormatDecimal(double value) {
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  if (res.ec != std::errc()) return "0";
  return std::string(buf, res.ptr);
}

}  // namespace kolibra
