// Small byte-wise text helpers of the conversion. Text is 8-bit code-page
// bytes: only the ASCII letters change case, never through a locale.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace kolibra {

inline char UpperAscii(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<char>(u - ('a' - 'A')) : c;
}

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A byte the ECR link would take as a control character (STX, ETX, XON, XOFF
// and the rest below 0x20, and DEL). Bytes from 0x80 up are code-page letters.
inline bool IsControlByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7f;
}

inline void UpperInPlace(std::string& s) {
  for (char& c : s) c = UpperAscii(c);
}

inline std::string Upper(std::string_view s) {
  std::string r(s);
  UpperInPlace(r);
  return r;
}

// Position of the first occurrence of key in text, ignoring ASCII letter case.
inline std::size_t FindNoCase(std::string_view text, std::string_view key, std::size_t from = 0) {
  if (key.empty()) return from <= text.size() ? from : std::string_view::npos;
  if (key.size() > text.size()) return std::string_view::npos;
  const char first = UpperAscii(key[0]);
  const bool firstIsLetter = first >= 'A' && first <= 'Z';
  const std::size_t last = text.size() - key.size();
  for (std::size_t i = from; i <= last; ++i) {
    if (!firstIsLetter) {
      // Keys such as ",N" begin with a character of one case: jump to it.
      const void* hit = std::memchr(text.data() + i, first, last - i + 1);
      if (hit == nullptr) return std::string_view::npos;
      i = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    } else if (UpperAscii(text[i]) != first) {
      continue;
    }
    std::size_t k = 1;
    while (k < key.size() && UpperAscii(text[i + k]) == UpperAscii(key[k])) ++k;
    if (k == key.size()) return i;
  }
  return std::string_view::npos;
}

inline bool ContainsNoCase(std::string_view text, std::string_view key) {
  return FindNoCase(text, key) != std::string_view::npos;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view key) {
  if (text.size() < key.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (UpperAscii(text[i]) != UpperAscii(key[i])) return false;
  }
  return true;
}

// The payment-line test: the line ends with "T" and holds one or two digits
// followed by "T" somewhere (the pattern \d{1,2}T). Any digit followed by "T"
// satisfies the pattern, so that is all that needs checking.
inline bool IsTenderLine(std::string_view line) {
  if (line.empty() || line.back() != 'T') return false;
  for (std::size_t i = 1; i < line.size(); ++i) {
    if (line[i] == 'T' && IsDigit(line[i - 1])) return true;
  }
  return false;
}

}  // namespace kolibra
