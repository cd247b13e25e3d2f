#include "core/file_util.h"

#include <charconv>
#include <fstream>
#include <limits>

namespace kolibra {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<std::string> ReadFileHead(const std::string& path, std::size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data(limit, '\0');
  in.read(data.data(), static_cast<std::streamsize>(limit));
  data.resize(static_cast<std::size_t>(in.gcount()));
  return data;
}

namespace {

bool WriteBytes(const std::string& path, std::string_view content, std::ios::openmode mode) {
  std::ofstream out(path, std::ios::binary | mode);
  if (!out) return false;
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  return !out.fail();
}

}  // namespace

bool WriteWholeFile(const std::string& path, std::string_view content) {
  return WriteBytes(path, content, std::ios::trunc);
}

bool AppendToFile(const std::string& path, std::string_view content) {
  return WriteBytes(path, content, std::ios::app);
}

std::vector<std::string> ReadItems(std::string_view text) {
  std::vector<std::string> items;
  std::size_t i = 0;
  const std::size_t n = text.size();
  // Ends the current item at a comma or a line end (CR LF counts once).
  auto skipDelimiter = [&] {
    if (i >= n) return;
    if (text[i] == ',' || text[i] == '\n') {
      ++i;
    } else if (text[i] == '\r') {
      ++i;
      if (i < n && text[i] == '\n') ++i;
    }
  };
  while (i < n) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i >= n) break;
    if (text[i] == '"') {
      const std::size_t start = ++i;
      while (i < n && text[i] != '"') ++i;
      items.emplace_back(text.substr(start, i - start));
      if (i < n) ++i;  // closing quote
      // Anything between the closing quote and the delimiter is dropped.
      while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') ++i;
    } else {
      const std::size_t start = i;
      while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') ++i;
      items.emplace_back(Trim(text.substr(start, i - start)));
    }
    skipDelimiter();
  }
  return items;
}

double LeadingNumber(std::string_view text, std::string* written) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  const std::size_t start = i;
  bool point = false;
  bool digits = false;
  while (i < text.size()) {
    if (IsDigit(text[i])) {
      digits = true;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
    ++i;
  }
  if (!digits) {
    if (written) written->clear();
    return 0.0;
  }
  std::string_view number = text.substr(start, i - start);
  if (written) *written = std::string(number);
  double value = 0.0;
  // from_chars does not take a leading point, nor a trailing one.
  std::string canonical(number);
  if (canonical.front() == '.') canonical.insert(canonical.begin(), '0');
  if (canonical.back() == '.') canonical.pop_back();
  auto res = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value,
                             std::chars_format::fixed);
  if (res.ec == std::errc::result_out_of_range) {
    // Too large (a non-zero integer part) or too small to represent.
    const std::string_view whole = std::string_view(canonical).substr(0, canonical.find('.'));
    value = whole.find_first_not_of('0') != std::string_view::npos
                ? std::numeric_limits<double>::max()
                : 0.0;
  }
  return value;
}

bool ParseWholeNumber(std::string_view text, double& value) {
  std::string_view s = Trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  std::string written;
  const double v = LeadingNumber(s, &written);
  if (written.empty() || written.size() != s.size()) return false;
  value = negative ? -v : v;
  return true;
}

std::string FormatDecimal(double value) {
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  if (res.ec != std::errc()) return "0";
  return std::string(buf, res.ptr);
}

}  // namespace kolibra
