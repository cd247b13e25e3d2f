#include "conversion/normalizer.h"

#include <array>
#include <cstddef>
#include <vector>

#include "conversion/text_util.h"

namespace kolibra {

namespace {

// Replacement of one byte of a text field: nullptr keeps the byte, "" drops it.
struct ReplacementTable {
  std::array<const char*, 256> to{};
  ReplacementTable() {
    auto set = [this](int code, const char* s) { to[static_cast<std::size_t>(code)] = s; };
    set(9, "");
    set(128, "E");
    set(130, "e");
    set(133, "a");
    set(135, "c");
    set(136, "e");
    set(138, "e");
    set(141, "i");
    set(149, "o");
    set(151, "u");
    set(156, "L");
    set(192, "A");
    set(193, "A");
    set(195, "E");
    set(200, "E");
    set(201, "E");
    set(204, "I");
    set(205, "I");
    set(210, "O");
    set(211, "O");
    set(217, "U");
    set(218, "U");
    set(224, "a");
    set(225, "a");
    set(232, "e");
    set(233, "e");
    set(236, "i");
    set(237, "i");
    set(242, "o");
    set(243, "o");
    set(245, " ");
    set(248, " ");
    set(249, "u");
    set(250, "u");
    set('&', "e");
    set(228, "ae");
    set(196, "AE");
    set(246, "oe");
    set(214, "OE");
    set(252, "ue");
    set(220, "UE");
  }
};

const ReplacementTable& Replacements() {
  static const ReplacementTable table;
  return table;
}

bool IsBlank(char c) { return c == ' '; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Cuts or fills the digits after the point to exactly `decimals` when the
// text holds a point.
void FixDecimals(std::string& field, std::size_t decimals) {
  const std::size_t dot = field.find('.');
  if (dot == std::string::npos) return;
  field.resize(dot + 1 + decimals, '0');
}

// A text field: ":" followed by the upper-cased text, TOTALE shortened, the
// replacement table applied, cut to the width.
void AppendTextField(std::string& out, std::string_view field, int16_t width) {
  const std::size_t start = out.size();
  for (char c : field) out.push_back(UpperCp1252(c));
  // "TOTALE" becomes "TOT." and two blanks, keeping the length.
  for (std::size_t p = out.find("TOTALE", start); p != std::string::npos;
       p = out.find("TOTALE", p + 6)) {
    out.replace(p, 6, "TOT.  ");
  }
  const ReplacementTable& table = Replacements();
  std::string text = out.substr(start);
  out.resize(start);
  for (char c : text) {
    const char* r = table.to[static_cast<unsigned char>(c)];
    if (r == nullptr) {
      out.push_back(c);
    } else {
      out += r;
    }
  }
  const std::size_t keep = width < 0 ? 1 : static_cast<std::size_t>(width) + 1;
  if (out.size() - start > keep) out.resize(start + keep);
  if (out.size() - start == 1) out.push_back(' ');
}

bool OneOf(std::string_view s, std::initializer_list<std::string_view> list) {
  for (std::string_view x : list) {
    if (s == x) return true;
  }
  return false;
}

// A data field that is not a text: trimmed, upper-cased, its digits cleaned
// and its number put in normal form where the keyword asks for it.
void AppendDataField(std::string& out, std::string_view keyword, std::string_view raw) {
  std::string field;
  for (char c : TrimBlanks(raw)) field.push_back(UpperCp1252(c));
  const char key = field.empty() ? '\0' : field[0];
  const bool kept = (keyword == "PLUD" && key == 'C') || (keyword == "LOTT" && key == 'C') ||
                    (keyword == "NDCR" && key == '>') || keyword == "DELD";
  if (!kept) {
    std::string cleaned;
    if (!field.empty()) cleaned.push_back(key);
    for (std::size_t i = 1; i < field.size(); ++i) {
      if (IsDigit(field[i]) || field[i] == '.') cleaned.push_back(field[i]);
    }
    if (cleaned.size() == (field.empty() ? 0u : 1u) && key != 'R' && key != 'S') {
      cleaned.push_back('1');
    }
    // A field of blanks only has no key and gets the value "1".
    field.swap(cleaned);
  }

  const std::string_view value = std::string_view(field).substr(field.empty() ? 0 : 1);
  const bool sale = keyword == "PLUD" || keyword == "SALE";
  if (keyword == "PLUD" && key == 'C') {
    // The article code goes as it is.
  } else if (sale && (key == 'Q' || key == 'N' || key == 'P')) {
    field = std::string(1, key) + NumberNormalForm(value);
    if (key == 'Q') FixDecimals(field, 3);
  } else if (OneOf(keyword, {"MOST", "DISC", "DOST", "MAGG"}) && key == '%') {
    field = std::string(1, key) + NumberNormalForm(value);
    FixDecimals(field, 2);
  } else if (!OneOf(keyword, {"NDCR", "LOTT", "DELD", "CLER"}) &&
             (key == 'V' || key == 'N' || key == 'C')) {
    field = std::string(1, key) + NumberNormalForm(value);
  }
  out += field;
}

}  // namespace

char UpperCp1252(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
  if (u >= 224 && u <= 254 && u != 247) return static_cast<char>(u - 32);
  return c;
}

std::string NumberNormalForm(std::string_view value) {
  // Longest leading decimal number: digits, then optionally "." (or ",") and
  // more digits.
  std::size_t i = 0;
  std::string digits;
  while (i < value.size() && IsDigit(value[i])) digits.push_back(value[i++]);
  std::size_t point = digits.size();
  if (i < value.size() && (value[i] == '.' || value[i] == ',')) {
    ++i;
    while (i < value.size() && IsDigit(value[i])) digits.push_back(value[i++]);
  }

  std::size_t first = 0;
  while (first < digits.size() && digits[first] == '0') ++first;
  if (first == digits.size()) return "0";

  // Keep at most 15 significant digits, rounding half up on the next one.
  constexpr std::size_t kSignificant = 15;
  if (digits.size() - first > kSignificant) {
    const bool up = digits[first + kSignificant] >= '5';
    digits.resize(first + kSignificant);
    if (up) {
      std::size_t k = digits.size();
      while (k > 0 && digits[k - 1] == '9') digits[--k] = '0';
      if (k == 0) {
        digits.insert(digits.begin(), '1');
        ++point;
      } else {
        ++digits[k - 1];
      }
    }
    // Cut integer digits come back as zeros.
    if (digits.size() < point) digits.resize(point, '0');
  }

  std::size_t intStart = 0;
  while (intStart < point && digits[intStart] == '0') ++intStart;
  std::string out = intStart < point ? digits.substr(intStart, point - intStart) : "0";
  std::size_t fracEnd = digits.size();
  while (fracEnd > point && digits[fracEnd - 1] == '0') --fracEnd;
  if (fracEnd > point) {
    out.push_back('.');
    out.append(digits, point, fracEnd - point);
  }
  return out;
}

bool HasNegativeField(std::string_view line, std::string_view keys) {
  std::size_t end = line.find(',');
  while (end != std::string_view::npos) {
    const std::size_t start = end + 1;
    end = line.find(',', start);
    const std::string_view field = TrimBlanks(
        line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (field.empty() || field.find(':') != std::string_view::npos) continue;
    if (keys.find(UpperAscii(field[0])) == std::string_view::npos) continue;
    // Blanks and tabs may stand around the minus: the clean-up drops them too.
    auto skipBlanks = [](std::string_view s) {
      while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
      return s;
    };
    std::string_view value = skipBlanks(field.substr(1));
    if (value.empty() || value[0] != '-') continue;
    value = skipBlanks(value.substr(1));
    bool point = false;
    for (const char c : value) {
      if (c == '.' && !point) {
        point = true;
      } else if (!IsDigit(c)) {
        break;
      } else if (c != '0') {
        return true;
      }
    }
  }
  return false;
}

std::string NormalizeRecordLine(std::string_view line, int16_t width) {
  if (line.empty()) return std::string();

  std::string out;
  out.reserve(line.size() + 8);

  std::size_t end = line.find(',');
  std::string_view first = line.substr(0, end);
  if (first.size() > 4) first = first.substr(0, 4);
  std::string keyword(first);
  for (char& c : keyword) c = UpperCp1252(c);
  // Every field that is not empty is followed by "," unless it is the last
  // one, so an empty field vanishes together with its comma.
  out += keyword;
  if (!keyword.empty() && end != std::string_view::npos) out.push_back(',');

  while (end != std::string_view::npos) {
    const std::size_t start = end + 1;
    end = line.find(',', start);
    const std::string_view field =
        line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (field.empty()) continue;
    const std::size_t before = out.size();
    const std::size_t colon = field.find(':');
    if (colon != std::string_view::npos) {
      AppendTextField(out, field.substr(colon), width);
    } else {
      AppendDataField(out, keyword, field);
    }
    // A kept field of blanks only has become empty and vanishes as well.
    if (out.size() != before && end != std::string_view::npos) out.push_back(',');
  }
  if (out.find(';') == std::string::npos) out.push_back(';');
  return out;
}

}  // namespace kolibra
