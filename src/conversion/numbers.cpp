// Numeric helpers of the record handlers.
#include "conversion/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "conversion/conversion_state.h"

namespace kolibra {

namespace {

constexpr int kOverflowNumber = 6;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigitChar(char c) { return c >= '0' && c <= '9'; }

// Length of the number that starts at text[from] (sign, digits, one ".",
// exponent); 0 when no digit is found. Writes the number in from_chars form
// (no "+", "e" for the exponent) into out.
std::size_t ScanNumber(std::string_view text, std::size_t from, std::string& out) {
  out.clear();
  std::size_t i = from;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') out.push_back('-');
    ++i;
  }
  bool digits = false;
  bool point = false;
  while (i < text.size()) {
    const char c = text[i];
    if (IsDigitChar(c)) {
      digits = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
    out.push_back(c);
    ++i;
  }
  if (!digits) {
    out.clear();
    return 0;
  }
  // An exponent counts only when at least one digit follows it.
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
    std::size_t j = i + 1;
    std::string exp = "e";
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
      if (text[j] == '-') exp.push_back('-');
      ++j;
    }
    const std::size_t firstDigit = j;
    while (j < text.size() && IsDigitChar(text[j])) exp.push_back(text[j++]);
    if (j > firstDigit) {
      out += exp;
      i = j;
    }
  }
  return i - from;
}

[[noreturn]] void ThrowOverflow() {
  throw ConversionFailure{"Overflow", kOverflowNumber, 0};
}

template <typename T>
T ToChecked(double value) {
  const double r = RoundHalfEven(value);
  if (!std::isfinite(r) || r < static_cast<double>(std::numeric_limits<T>::min()) ||
      r >= -static_cast<double>(std::numeric_limits<T>::min())) {
    ThrowOverflow();
  }
  return static_cast<T>(r);
}

}  // namespace

bool IsNumeric(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  std::string scanned;
  const std::size_t len = ScanNumber(text, i, scanned);
  if (len == 0) return false;
  i += len;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return i == text.size();
}

double NumericValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  std::string scanned;
  if (ScanNumber(text, i, scanned) == 0) return 0.0;
  // from_chars takes neither a bare "." nor "-." as a number start; give the
  // fraction its leading zero.
  const std::size_t digitsAt = scanned[0] == '-' ? 1 : 0;
  if (scanned[digitsAt] == '.') scanned.insert(scanned.begin() + static_cast<std::ptrdiff_t>(digitsAt), '0');
  double value = 0.0;
  const auto res = std::from_chars(scanned.data(), scanned.data() + scanned.size(), value);
  if (res.ec == std::errc::result_out_of_range) {
    // Too large (or too small) for a double: an overflow, not a silent zero.
    if (scanned.find("e-") == std::string::npos) ThrowOverflow();
    return 0.0;
  }
  return value;
}

double RoundHalfEven(double value) {
  if (!std::isfinite(value)) return value;
  const double floor = std::floor(value);
  const double diff = value - floor;
  if (diff < 0.5) return floor;
  if (diff > 0.5) return floor + 1.0;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

int16_t ToInt16Checked(double value) { return ToChecked<int16_t>(value); }
int32_t ToInt32Checked(double value) { return ToChecked<int32_t>(value); }
int64_t ToInt64Checked(double value) { return ToChecked<int64_t>(value); }

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

}  // namespace kolibra
