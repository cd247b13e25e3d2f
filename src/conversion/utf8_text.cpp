#include "conversion/utf8_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace kolibra {

namespace {

// The characters of Windows-1252 at 0x80-0x9F (0 where the code page has
// none).
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       //
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Plain letter of each character U+0100-U+017F (Latin Extended-A), "?" for
// the ligatures and letters that have none.
constexpr std::string_view kExtendedABase =
    "AaAaAaCcCcCcCcDd"
    "DdEeEeEeEeEeGgGg"
    "GgGgHhHhIiIiIiIi"
    "Ii??JjKk?LlLlLlL"
    "lLlNnNnNn???OoOo"
    "OoOoRrRrRrSsSsSs"
    "SsTtTtTtUuUuUuUu"
    "UuUuWwYyYZzZzZzs";

// Letter and combining mark of each character U+00C0-U+00FF that has them
// ("-" for none). Marks: g grave, a acute, c circumflex, t tilde,
// d diaeresis, r ring above, s cedilla.
constexpr std::string_view kLatin1Base = "AAAAAA-CEEEEIIII-NOOOOO--UUUUY--aaaaaa-ceeeeiiii-nooooo--uuuuy-y";
constexpr std::string_view kLatin1Mark = "gactdr-sgacdgacd-tgactd--gacda--gactdr-sgacdgacd-tgactd--gacda-d";

char MarkLetter(char32_t mark) {
  switch (mark) {
    case 0x0300: return 'g';
    case 0x0301: return 'a';
    case 0x0302: return 'c';
    case 0x0303: return 't';
    case 0x0308: return 'd';
    case 0x030A: return 'r';
    case 0x0327: return 's';
    default: return '\0';
  }
}

bool IsCombiningMark(char32_t c) { return c >= 0x0300 && c <= 0x036F; }

// The code-page byte of a character that is not a combining mark.
char ToCp1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (std::size_t i = 0; i < 32; ++i) {
    if (kCp1252High[i] == c) return static_cast<char>(0x80 + i);
  }
  if (c >= 0x0100 && c <= 0x017F) return kExtendedABase[c - 0x0100];
  return '?';
}

// A combining mark after the text so far: the letter before it becomes the
// accented letter where the code page has it; otherwise the mark is dropped.
void ApplyMark(std::string& out, char32_t mark) {
  const char m = MarkLetter(mark);
  if (out.empty() || m == '\0') return;
  const char letter = out.back();
  for (std::size_t i = 0; i < kLatin1Base.size(); ++i) {
    if (kLatin1Base[i] == letter && kLatin1Mark[i] == m) {
      out.back() = static_cast<char>(0xC0 + i);
      return;
    }
  }
}

// Decodes one character at `i`; false for an invalid sequence (overlong
// forms, surrogates and values beyond U+10FFFF included).
bool Decode(std::string_view s, std::size_t& i, char32_t& c) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t extra = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b < 0x80) {
    c = b;
    ++i;
    return true;
  }
  if (b >= 0xC2 && b <= 0xDF) {
    extra = 1;
    c = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    extra = 2;
    c = b & 0x0F;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    extra = 3;
    c = b & 0x07;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return false;
  }
  if (s.size() - i <= extra) return false;
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto n = static_cast<unsigned char>(s[i + k]);
    if (n < lo || n > hi) return false;
    lo = 0x80;
    hi = 0xBF;
    c = (c << 6) | (n & 0x3F);
  }
  i += extra + 1;
  return true;
}

}  // namespace

std::optional<std::string> Utf8ToCp1252(std::string_view bytes) {
  if (std::none_of(bytes.begin(), bytes.end(), [](char b) { return (b & 0x80) != 0; })) {
    return std::nullopt;
  }
  std::size_t i = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  std::string out;
  out.reserve(bytes.size());
  while (i < bytes.size()) {
    char32_t c = 0;
    if (!Decode(bytes, i, c)) return std::nullopt;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (IsCombiningMark(c)) {
      ApplyMark(out, c);
    } else {
      out.push_back(ToCp1252(c));
    }
  }
  return out;
}

}  // namespace kolibra
