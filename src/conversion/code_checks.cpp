#include "conversion/code_checks.h"

#include <cstddef>

#include "conversion/text_util.h"

namespace kolibra {

namespace {

// Values of the characters in odd positions, by letter index (A or 0 = 0).
constexpr int kOddValue[26] = {1,  0,  5,  7,  9,  13, 15, 17, 19, 21, 2,  4,  18,
                               20, 11, 3,  6,  8,  12, 14, 16, 10, 22, 25, 24, 23};

}  // namespace

bool CheckCodiceFiscale(std::string_view text) {
  if (text.size() != 16) return false;
  int sum = 0;
  for (std::size_t i = 0; i < 15; ++i) {
    const char c = UpperAscii(text[i]);
    int k;
    if (c >= 'A' && c <= 'Z') {
      k = c - 'A';
    } else if (IsDigit(c)) {
      k = c - '0';
    } else {
      return false;
    }
    // Position i + 1 is odd when i is even.
    sum += (i % 2 == 0) ? kOddValue[k] : k;
  }
  return UpperAscii(text[15]) == static_cast<char>('A' + sum % 26);
}

bool CheckPartitaIva(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.size() != 11) return false;
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  int sum = 0;
  for (std::size_t i = 0; i < 10; ++i) {
    const int d = text[i] - '0';
    if (i % 2 == 0) {
      sum += d;
    } else {
      const int twice = 2 * d;
      sum += twice / 10 + twice % 10;
    }
  }
  int check = 10 - sum % 10;
  if (check == 10) check = 0;
  return text[10] - '0' == check;
}

}  // namespace kolibra
